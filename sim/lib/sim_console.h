#pragma once

#include "sim_commands.h"

#include <QString>

namespace pondara::sim {

class SimLine;

// Carries out `command` on `line` and returns the console's one-line answer
// ("error: ..." when it cannot be done).
QString run_command(SimLine& line, const Command& command);

// Reads one line typed at the simulator's console and carries it out on
// `line`; the one-line answer is "error: ..." when the line is not
// understood, and empty for an empty line.
QString run_console_command(SimLine& line, const QString& text);

}  // namespace pondara::sim
