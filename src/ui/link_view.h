#pragma once

#include "serial/link_health.h"
#include "serial/module_texts.h"

#include <QColor>
#include <QString>

class QLabel;

namespace pondara {

// Where the link runs, for the hints: the port number, its device and the
// module address as typed.
struct LinkPlace {
    int port_number = 0;
    QString device;
    QString address;
};

// Green, grey and orange, each readable on the default light palette.
QColor link_state_colour(LinkHealth::State state);

// The grey of a readout whose value is no longer live.
QColor stale_colour();

// What to check in a bad state, in one sentence; empty in the others.
QString link_hint(LinkHealth::State state, const LinkPlace& place);

// The counters since opening, for a tooltip.
QString link_counters(const LinkHealth::Counters& counters);

// Writes `text` on a status label in `colour`; its accessible name is its text.
void show_status(QLabel* label, const QString& text, const QColor& colour);

}  // namespace pondara
