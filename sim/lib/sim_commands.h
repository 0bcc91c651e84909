#pragma once

#include "fault.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

class QCommandLineParser;

namespace pondara::sim {

// What the simulator can be told, on its command line or at its console.
enum class Verb {
    // Settings, one value each; the port only on the command line.
    port,
    address,
    load,
    drift,
    noise,
    pacing,
    delay,
    fault,
    fault_rate,
    seed,
    unplug_after,
    // Console commands without a value ("fault" alone is show_fault).
    show_fault,
    state,
    stats,
    help,
    unplug,
    replug,
};

struct Command {
    Verb verb = Verb::help;
    // A whole number (port, delay in ms, seed, unplug-after in s), a number
    // (load, fault-rate), on or off (drift, noise, pacing), a fault, or the
    // module addresses (address); nothing for the commands without a value.
    std::variant<std::monostate, long long, double, bool, Fault, std::vector<std::uint8_t>> value;
    bool once = false;  // "fault NAME once": the next reply only
    // "load 5 1500": the module at address 5 only; none: every module.
    std::optional<std::uint8_t> module = {};
};

// A command read, or why the text is not one (an empty line is neither).
struct Parsed {
    std::optional<Command> command;
    QString error;
};

// Reads one line typed at the console: "delay 50", "fault split once",
// "stats".
Parsed parse_command(const QString& text);

// The command written out in full, as the console confirms a setting:
// "delay 50 ms", "fault split once", "stats".
QString describe(const Command& command);

// A number as the console shows it: plain decimals up to 10 significant
// digits, no exponent for loads.
QString decimal_text(double value);

// Addresses as the console shows them: "1,5,17".
QString address_list(const std::vector<std::uint8_t>& addresses);

// The one-line list of console commands and faults.
QString console_help();

// The simulator's command line: one option for each setting the command
// line takes, and --help, whose text help_text() is.
void add_options(QCommandLineParser& parser);
QString help_text();

// What the command line asks for: the port, and the settings to give the
// line before it starts; or the complaint about the first option that is
// wrong.
struct CommandLine {
    int port = 1;
    std::vector<Command> settings;
    QString error;
};

// Reads what a parser made by add_options() found.
CommandLine read_command_line(const QCommandLineParser& parser);

}  // namespace pondara::sim
