#pragma once

#include <QLoggingCategory>

// The publisher's connection, what it drops and the commands it takes or
// ignores; silent unless enabled (QT_LOGGING_RULES="pondara.mqtt=true").
Q_DECLARE_LOGGING_CATEGORY(lc_mqtt)
