#include "serial/logging.h"

// Only warnings are on by default, and the program logs nothing above debug
// and info on these categories: in normal use it prints nothing.
Q_LOGGING_CATEGORY(lc_serial, "pondara.serial", QtWarningMsg)
Q_LOGGING_CATEGORY(lc_line, "pondara.line", QtWarningMsg)
Q_LOGGING_CATEGORY(lc_port, "pondara.port", QtWarningMsg)
