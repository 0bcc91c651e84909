#include "sim_commands.h"

#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace pondara::sim {

namespace {

enum class Kind { action, whole, number, on_off, fault, addresses };

constexpr double unbounded = std::numeric_limits<double>::infinity();

// Everything the simulator can be told, once, in the order the help lists
// it: the word, the value it takes and its range, and how the console's help
// and the command line show it. The parsers, the console's help, the
// command-line options and the help paragraph are all made from this table.
struct Word {
    Verb verb;
    const char* name;  // the console's word
    Kind kind = Kind::action;
    double low = 0;
    double high = 0;
    const char* unit = "";  // after the value: "ms", "s" or none
    const char* value_name = "";  // the value in the help: "X", "MS", ...
    bool on_console = true;
    // One line of the console's help (after the word and value); none when
    // another word's line tells it.
    const char* console_help = nullptr;
    // The command-line option: the word itself for a setting with a value
    // (--delay MS), or a switch of its own that gives the setting
    // `switch_value` (--no-pacing); none when the command line has no such
    // option.
    const char* option = nullptr;
    const char* switch_value = nullptr;
    const char* option_help = nullptr;
    const char* fallback = nullptr;  // the default, as the option's help names it
    // At the console it may name one module of a bus: "load 5 1500".
    bool per_module = false;
};

const Word words[] = {
    {.verb = Verb::port,
     .name = "port",
     .kind = Kind::whole,
     .low = 1,
     .high = 999,
     .value_name = "N",
     .on_console = false,
     .option = "port",
     .option_help = "Virtual port number N",
     .fallback = "1"},
    {.verb = Verb::load,
     .name = "load",
     .kind = Kind::number,
     .low = -unbounded,
     .high = unbounded,
     .value_name = "X",
     .console_help = "put X weight units on the cell",
     .option = "load",
     .option_help = "Load on the cell in weight units",
     .fallback = "0",
     .per_module = true},
    {.verb = Verb::drift,
     .name = "drift",
     .kind = Kind::on_off,
     .console_help = "let the load swing slowly around X",
     .option = "drift",
     .switch_value = "on",
     .option_help = "Let the load swing slowly, for demonstrations.",
     .per_module = true},
    {.verb = Verb::noise, .name = "noise", .kind = Kind::on_off, .console_help = "AD noise", .per_module = true},
    {.verb = Verb::address,
     .name = "address",
     .kind = Kind::addresses,
     .low = 0,
     .high = 255,
     .value_name = "A",
     .console_help = "answer address A; a list such as 1,5,17 puts a module with a scale of its own at each "
                     "address, and 'load 5 X', 'drift 5 on', 'noise 5 off', 'fault 5 NAME' then set one of them",
     .option = "address",
     .option_help = "Module address A, or a bus of modules at A,B,...",
     .fallback = "1"},
    {.verb = Verb::delay,
     .name = "delay",
     .kind = Kind::whole,
     .low = 0,
     .high = 60'000,
     .unit = "ms",
     .value_name = "MS",
     .console_help = "wait MS ms before each reply",
     .option = "reply-delay",
     .option_help = "Reply delay in ms",
     .fallback = "0"},
    {.verb = Verb::pacing,
     .name = "pacing",
     .kind = Kind::on_off,
     .console_help = "9600-baud byte timing, or everything at once",
     .option = "no-pacing",
     .switch_value = "off",
     .option_help = "Send replies at once instead of at 9600 baud."},
    {.verb = Verb::fault,
     .name = "fault",
     .kind = Kind::fault,
     .value_name = "NAME",
     .console_help = "spoil every reply; 'fault NAME once' spoils the next only; 'fault none' clears; 'fault' shows",
     .option = "fault",
     .option_help = "Spoil every reply this way",
     .fallback = "none",
     .per_module = true},
    {.verb = Verb::show_fault, .name = "fault"},
    {.verb = Verb::fault_rate,
     .name = "fault-rate",
     .kind = Kind::number,
     .low = 0,
     .high = 1,
     .value_name = "P",
     .console_help = "spoil each reply, with a random fault, with probability P",
     .option = "fault-rate",
     .option_help = "Probability per reply of a random fault",
     .fallback = "0"},
    {.verb = Verb::seed,
     .name = "seed",
     .kind = Kind::whole,
     .low = 0,
     .high = 4'294'967'295.0,
     .value_name = "S",
     .console_help = "reseed the noise and the random faults",
     .option = "seed",
     .option_help = "Seed for noise and random faults",
     .fallback = "1"},
    {.verb = Verb::unplug, .name = "unplug", .console_help = "pull the cable (the host sees a hang-up)"},
    {.verb = Verb::replug, .name = "replug", .console_help = "plug a new cable in"},
    // One range: 0 cancels at the console and means never on the command
    // line.
    {.verb = Verb::unplug_after,
     .name = "unplug-after",
     .kind = Kind::whole,
     .low = 0,
     .high = 86'400,
     .unit = "s",
     .value_name = "S",
     .console_help = "unplug S seconds from now, 0 cancels",
     .option = "unplug-after",
     .option_help = "Unplug the line after S seconds",
     .fallback = "0, never"},
    {.verb = Verb::state, .name = "state", .console_help = "the settings"},
    {.verb = Verb::stats, .name = "stats", .console_help = "requests, replies and faults counted"},
    {.verb = Verb::help, .name = "help", .console_help = "the list of commands"},
};

// Whether the console's help lists the word.
bool listed(const Word& word) { return word.on_console && word.console_help; }

// Lines of the help paragraph are cut at this width.
constexpr int help_width = 100;

const Word& word_of(Verb verb)
{
    for (const Word& word : words)
        if (word.verb == verb)
            return word;
    return words[0];  // not reached: every verb has a word
}

QString whole(double value) { return QString::number(static_cast<long long>(value)); }

QString with_unit(const QString& text, const Word& word)
{
    return *word.unit ? text + QLatin1Char(' ') + QLatin1String(word.unit) : text;
}

// What a setting takes: "0..255", "0..60000 ms", "a number", ...
QString takes(const Word& word)
{
    switch (word.kind) {
    case Kind::action:
        return {};
    case Kind::whole:
        return with_unit(whole(word.low) + QLatin1String("..") + whole(word.high), word);
    case Kind::number:
        if (std::isinf(word.low))
            return QStringLiteral("a number");
        return decimal_text(word.low) + QLatin1String("..") + decimal_text(word.high);
    case Kind::on_off:
        return QStringLiteral("on or off");
    case Kind::fault:
        return QStringLiteral("one of: ") + fault_names().join(QLatin1Char(' '));
    case Kind::addresses:
        return whole(word.low) + QLatin1String("..") + whole(word.high)
               + QStringLiteral(", or several different ones such as 1,5,17");
    }
    return {};
}

// The range in the help, for settings whose numbers are bounded.
QString range_note(const Word& word)
{
    const bool bounded = word.kind == Kind::whole || word.kind == Kind::addresses
                         || (word.kind == Kind::number && !std::isinf(word.low));
    return bounded ? QStringLiteral(" (") + takes(word) + QLatin1Char(')') : QString();
}

std::optional<Command> read_value(const Word& word, const QString& text)
{
    bool ok = false;
    switch (word.kind) {
    case Kind::action:
        return std::nullopt;
    case Kind::whole: {
        const long long value = text.toLongLong(&ok);
        if (!ok || value < word.low || value > word.high)
            return std::nullopt;
        return Command {word.verb, value};
    }
    case Kind::number: {
        const double value = text.toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < word.low || value > word.high)
            return std::nullopt;
        return Command {word.verb, value};
    }
    case Kind::on_off:
        if (text == QLatin1String("on") || text == QLatin1String("off"))
            return Command {word.verb, text == QLatin1String("on")};
        return std::nullopt;
    case Kind::fault:
        if (const auto fault = fault_from_name(text))
            return Command {word.verb, *fault};
        return std::nullopt;
    case Kind::addresses: {
        std::vector<std::uint8_t> addresses;
        for (const QString& part : text.split(QLatin1Char(','))) {
            const int address = part.toInt(&ok);
            if (!ok || address < word.low || address > word.high
                || std::find(addresses.begin(), addresses.end(), address) != addresses.end())
                return std::nullopt;
            addresses.push_back(static_cast<std::uint8_t>(address));
        }
        return Command {word.verb, std::move(addresses)};
    }
    }
    return std::nullopt;
}

// "load 5 1500": the module's address taken out of `typed`, when the word
// may name a module and the second word is an address.
std::optional<std::uint8_t> take_module(QStringList& typed)
{
    if (typed.size() < 3)
        return std::nullopt;
    const auto word = std::find_if(std::begin(words), std::end(words), [&](const Word& candidate) {
        return candidate.per_module && typed[0] == QLatin1String(candidate.name);
    });
    bool ok = false;
    const int address = typed[1].toInt(&ok);
    if (word == std::end(words) || !ok || address < 0 || address > 255)
        return std::nullopt;
    typed.removeAt(1);
    return static_cast<std::uint8_t>(address);
}

Parsed read_setting(const Word& word, const QString& text)
{
    if (auto command = read_value(word, text))
        return {std::move(command), {}};
    return {std::nullopt, QLatin1String(word.name) + QLatin1String(" takes ") + takes(word)};
}

// "fault NAME [once]": the one command with an optional third word.
Parsed read_fault(const QStringList& typed)
{
    Parsed parsed = read_setting(word_of(Verb::fault), typed[1]);
    if (!parsed.command || typed.size() == 2)
        return parsed;
    if (typed.size() == 3 && typed[2] == QLatin1String("once")) {
        parsed.command->once = true;
        return parsed;
    }
    return {std::nullopt, QStringLiteral("usage: fault NAME [once]")};
}

// How a command is typed: "load X", "drift on|off", "fault NAME [once]".
QString usage(const Word& word)
{
    QString text = QLatin1String(word.name);
    if (word.kind == Kind::on_off)
        text += QStringLiteral(" on|off");
    else if (word.kind != Kind::action)
        text += QLatin1Char(' ') + QLatin1String(word.value_name);
    if (word.kind == Kind::fault)
        text += QStringLiteral(" [once]");
    return text;
}

// `text` in lines of at most `width` characters, broken between words.
QStringList wrapped(const QString& text, int width)
{
    QStringList lines;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!lines.isEmpty() && lines.last().size() + 1 + word.size() <= width)
            lines.last() += QLatin1Char(' ') + word;
        else
            lines.append(word);
    }
    return lines;
}

// "  load X             put X weight units on the cell": the descriptions
// start in one column, and a long one goes on below in that column.
QString console_help_line(const Word& word, qsizetype column)
{
    const QString indent(column, QLatin1Char(' '));
    QStringList lines = wrapped(QLatin1String(word.console_help) + range_note(word), help_width - column);
    for (QString& line : lines)
        line.prepend(indent);
    lines[0].replace(0, column, (QStringLiteral("  ") + usage(word)).leftJustified(column));
    return lines.join(QLatin1Char('\n'));
}

QString faults_paragraph()
{
    QStringList faults;
    for (const FaultRow& row : fault_table)
        faults.append(QStringLiteral("%1 (%2)").arg(QLatin1String(row.name), QLatin1String(row.description)));
    return wrapped(QStringLiteral("Faults: ") + faults.join(QStringLiteral(", ")) + QLatin1Char('.'), help_width)
        .join(QLatin1Char('\n'));
}

QString option_help(const Word& word)
{
    if (word.switch_value)
        return QLatin1String(word.option_help);
    QString text = QLatin1String(word.option_help) + QStringLiteral(", ") + takes(word);
    if (word.fallback)
        text += QStringLiteral(" (default ") + QLatin1String(word.fallback) + QLatin1Char(')');
    return text + QLatin1Char('.');
}

// The option's setting, or the complaint about it ("--delay takes ...":
// only options with a value can be wrong, and they bear the word's name).
Parsed read_option(const QCommandLineParser& parser, const Word& word)
{
    if (word.switch_value)
        return read_setting(word, QLatin1String(word.switch_value));
    Parsed parsed = read_setting(word, parser.value(QLatin1String(word.option)));
    if (!parsed.command)
        parsed.error = QStringLiteral("--%1 takes %2").arg(QLatin1String(word.option), takes(word));
    return parsed;
}

}  // namespace

Parsed parse_command(const QString& text)
{
    QStringList typed = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (typed.isEmpty())
        return {};
    if (const auto module = take_module(typed)) {
        Parsed parsed = parse_command(typed.join(QLatin1Char(' ')));
        if (parsed.command)
            parsed.command->module = module;
        return parsed;
    }
    if (typed[0] == QLatin1String("fault") && typed.size() > 1)
        return read_fault(typed);
    for (const Word& word : words) {
        if (!word.on_console || typed[0] != QLatin1String(word.name))
            continue;
        if (word.kind == Kind::action && typed.size() == 1)
            return {Command {word.verb, {}}, {}};
        if (word.kind != Kind::action && typed.size() == 2)
            return read_setting(word, typed[1]);
    }
    return {std::nullopt, QStringLiteral("unknown command '%1' (try help)").arg(typed.join(QLatin1Char(' ')))};
}

QString describe(const Command& command)
{
    const Word& word = word_of(command.verb);
    QString value;
    if (const auto* number = std::get_if<long long>(&command.value))
        value = QString::number(*number);
    else if (const auto* fraction = std::get_if<double>(&command.value))
        value = decimal_text(*fraction);
    else if (const auto* on = std::get_if<bool>(&command.value))
        value = *on ? QStringLiteral("on") : QStringLiteral("off");
    else if (const auto* fault = std::get_if<Fault>(&command.value))
        value = fault_name(*fault) + (command.once ? QStringLiteral(" once") : QString());
    else if (const auto* addresses = std::get_if<std::vector<std::uint8_t>>(&command.value))
        value = address_list(*addresses);
    else
        return QLatin1String(word.name);
    const QString module = command.module ? QStringLiteral(" %1").arg(*command.module) : QString();
    return QLatin1String(word.name) + module + QLatin1Char(' ') + with_unit(value, word);
}

QString decimal_text(double value) { return QString::number(value, 'g', 10); }

QString address_list(const std::vector<std::uint8_t>& addresses)
{
    QStringList texts;
    for (const std::uint8_t address : addresses)
        texts.append(QString::number(address));
    return texts.join(QLatin1Char(','));
}

QString console_help()
{
    QStringList commands;
    for (const Word& word : words)
        if (listed(word))
            commands.append(usage(word));
    return QStringLiteral("commands: %1; faults: %2")
        .arg(commands.join(QStringLiteral(" | ")), fault_names().join(QLatin1Char(' ')));
}

QString help_text()
{
    QStringList paragraph {
        QStringLiteral("A simulated weighing module on a pseudo-terminal, published as virtual port N\n"
                       "($XDG_RUNTIME_DIR/pondara/comN). It answers requests for its address at 9600 baud\n"
                       "and can spoil replies on purpose to exercise the host program.\n"
                       "\n"
                       "While it runs, type commands on standard input, one a line:")};
    qsizetype column = 0;
    for (const Word& word : words)
        if (listed(word))
            column = std::max(column, usage(word).size() + 4);
    for (const Word& word : words)
        if (listed(word))
            paragraph.append(console_help_line(word, column));
    paragraph.append(faults_paragraph());
    paragraph.append(QStringLiteral("End of input does not stop the simulator; SIGINT or SIGTERM does."));
    return paragraph.join(QLatin1Char('\n'));
}

void add_options(QCommandLineParser& parser)
{
    parser.setApplicationDescription(help_text());
    parser.addHelpOption();
    for (const Word& word : words) {
        if (!word.option)
            continue;
        if (word.switch_value)
            parser.addOption({QLatin1String(word.option), option_help(word)});
        else
            parser.addOption({QLatin1String(word.option), option_help(word), QLatin1String(word.value_name)});
    }
}

CommandLine read_command_line(const QCommandLineParser& parser)
{
    CommandLine result;
    for (const Word& word : words) {
        if (!word.option || !parser.isSet(QLatin1String(word.option)))
            continue;
        const Parsed parsed = read_option(parser, word);
        if (!parsed.command) {
            result.error = parsed.error;
            return result;
        }
        if (parsed.command->verb == Verb::port)
            result.port = static_cast<int>(std::get<long long>(parsed.command->value));
        else
            result.settings.push_back(*parsed.command);
    }
    return result;
}

}  // namespace pondara::sim
