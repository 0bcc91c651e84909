#pragma once

#include <QString>

namespace pondara::sim {

class SimLine;

// Applies one line typed at the simulator's console to `line` and returns a
// one-line answer ("error: ..." when the command is not understood). An
// empty line gives an empty answer.
QString run_console_command(SimLine& line, const QString& text);

// The one-line list of console commands.
QString console_help();

}  // namespace pondara::sim
