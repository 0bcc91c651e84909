#pragma once

#include <QString>

#include <optional>

namespace pondara::sim {

class SimLine;

// Applies one line typed at the simulator's console to `line` and returns a
// one-line answer ("error: ..." when the command is not understood). An
// empty line gives an empty answer.
QString run_console_command(SimLine& line, const QString& text);

// The one-line list of console commands.
QString console_help();

// A whole number from low to high typed in a command or option, or nothing.
std::optional<long long> whole_number(const QString& word, long long low, long long high);

}  // namespace pondara::sim
