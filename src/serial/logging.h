#pragma once

#include <QLoggingCategory>

// Diagnostics of the I/O layers, silent unless enabled, for example with
// QT_LOGGING_RULES="pondara.*=true":
// - pondara.serial: the port object's own workings (settings, notifications);
// - pondara.line: every request and reply on the line, and why a reply was dropped;
// - pondara.port: port resolution, opening, closing, loss and the hand-over.
Q_DECLARE_LOGGING_CATEGORY(lc_serial)
Q_DECLARE_LOGGING_CATEGORY(lc_line)
Q_DECLARE_LOGGING_CATEGORY(lc_port)
