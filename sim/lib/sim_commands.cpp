#include "sim_commands.h"

#include <QStringList>

#include <cmath>
#include <iterator>
#include <limits>

namespace pondara::sim {

namespace {

enum class Kind { whole, number, on_off, fault };

// Each setting's name, value and range, for the command line and the
// console alike.
struct Rule {
    Verb verb;
    const char* name;
    Kind kind;
    double low;
    double high;
    const char* unit;  // after the value: "ms", "s" or none
    bool on_console;
};

constexpr double unbounded = std::numeric_limits<double>::infinity();

const Rule rules[] = {
    {Verb::port, "port", Kind::whole, 1, 999, "", false},
    {Verb::address, "address", Kind::whole, 0, 255, "", true},
    {Verb::load, "load", Kind::number, -unbounded, unbounded, "", true},
    {Verb::drift, "drift", Kind::on_off, 0, 0, "", true},
    {Verb::noise, "noise", Kind::on_off, 0, 0, "", true},
    {Verb::pacing, "pacing", Kind::on_off, 0, 0, "", true},
    {Verb::delay, "delay", Kind::whole, 0, 60'000, "ms", true},
    {Verb::fault, "fault", Kind::fault, 0, 0, "", true},
    {Verb::fault_rate, "fault-rate", Kind::number, 0, 1, "", true},
    {Verb::seed, "seed", Kind::whole, 0, 4'294'967'295.0, "", true},
    // 0 cancels at the console and means never on the command line.
    {Verb::unplug_after, "unplug-after", Kind::whole, 0, 86'400, "s", true},
};

struct Action {
    Verb verb;
    const char* name;
};

const Action actions[] = {
    {Verb::show_fault, "fault"}, {Verb::state, "state"},   {Verb::stats, "stats"},
    {Verb::help, "help"},        {Verb::unplug, "unplug"}, {Verb::replug, "replug"},
};

const Rule* rule_named(const QString& name)
{
    for (const Rule& rule : rules)
        if (name == QLatin1String(rule.name))
            return &rule;
    return nullptr;
}

const Rule& rule_of(Verb verb)
{
    for (const Rule& rule : rules)
        if (rule.verb == verb)
            return rule;
    return rules[0];  // not reached: every setting has a rule
}

QString whole(double value) { return QString::number(static_cast<long long>(value)); }

QString with_unit(const QString& text, const Rule& rule)
{
    return *rule.unit ? text + QLatin1Char(' ') + QLatin1String(rule.unit) : text;
}

// What a setting takes: "0..255", "0..60000 ms", "a number", ...
QString takes(const Rule& rule)
{
    switch (rule.kind) {
    case Kind::whole:
        return with_unit(whole(rule.low) + QLatin1String("..") + whole(rule.high), rule);
    case Kind::number:
        if (std::isinf(rule.low))
            return QStringLiteral("a number");
        return decimal_text(rule.low) + QLatin1String("..") + decimal_text(rule.high);
    case Kind::on_off:
        return QStringLiteral("on or off");
    case Kind::fault:
        return QStringLiteral("one of: ") + fault_names().join(QLatin1Char(' '));
    }
    return {};
}

std::optional<Command> read_value(const Rule& rule, const QString& word)
{
    bool ok = false;
    switch (rule.kind) {
    case Kind::whole: {
        const long long value = word.toLongLong(&ok);
        if (!ok || value < rule.low || value > rule.high)
            return std::nullopt;
        return Command {rule.verb, value};
    }
    case Kind::number: {
        const double value = word.toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < rule.low || value > rule.high)
            return std::nullopt;
        return Command {rule.verb, value};
    }
    case Kind::on_off:
        if (word == QLatin1String("on") || word == QLatin1String("off"))
            return Command {rule.verb, word == QLatin1String("on")};
        return std::nullopt;
    case Kind::fault:
        if (const auto fault = fault_from_name(word))
            return Command {rule.verb, *fault};
        return std::nullopt;
    }
    return std::nullopt;
}

Parsed read_setting(const Rule& rule, const QString& word)
{
    if (auto command = read_value(rule, word))
        return {std::move(command), {}};
    return {std::nullopt, QLatin1String(rule.name) + QLatin1String(" takes ") + takes(rule)};
}

}  // namespace

Parsed parse_setting(const QString& name, const QString& value)
{
    if (const Rule* rule = rule_named(name))
        return read_setting(*rule, value);
    return {std::nullopt, QStringLiteral("no setting '%1'").arg(name)};
}

Parsed parse_command(const QString& text)
{
    const QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return {};
    const QString& name = words[0];
    if (name == QLatin1String("fault") && words.size() > 1) {
        Parsed parsed = read_setting(rule_of(Verb::fault), words[1]);
        if (!parsed.command)
            return parsed;
        if (words.size() == 2)
            return parsed;
        if (words.size() == 3 && words[2] == QLatin1String("once")) {
            parsed.command->once = true;
            return parsed;
        }
        return {std::nullopt, QStringLiteral("usage: fault NAME [once]")};
    }
    if (words.size() == 1)
        for (const Action& action : actions)
            if (name == QLatin1String(action.name))
                return {Command {action.verb, {}}, {}};
    if (words.size() == 2)
        if (const Rule* rule = rule_named(name); rule && rule->on_console)
            return read_setting(*rule, words[1]);
    return {std::nullopt, QStringLiteral("unknown command '%1' (try help)").arg(words.join(QLatin1Char(' ')))};
}

QString describe(const Command& command)
{
    for (const Action& action : actions)
        if (action.verb == command.verb)
            return QLatin1String(action.name);
    const Rule& rule = rule_of(command.verb);
    QString value;
    if (const auto* number = std::get_if<long long>(&command.value))
        value = QString::number(*number);
    else if (const auto* fraction = std::get_if<double>(&command.value))
        value = decimal_text(*fraction);
    else if (const auto* on = std::get_if<bool>(&command.value))
        value = *on ? QStringLiteral("on") : QStringLiteral("off");
    else if (const auto* fault = std::get_if<Fault>(&command.value))
        value = fault_name(*fault) + (command.once ? QStringLiteral(" once") : QString());
    return QLatin1String(rule.name) + QLatin1Char(' ') + with_unit(value, rule);
}

QString decimal_text(double value) { return QString::number(value, 'g', 10); }

QString console_help()
{
    return QStringLiteral("commands: load X | drift on|off | noise on|off | address A | delay MS | pacing on|off | "
                          "fault NAME [once] | fault-rate P | seed S | unplug | replug | unplug-after S | "
                          "state | stats | help; faults: %1")
        .arg(fault_names().join(QLatin1Char(' ')));
}

}  // namespace pondara::sim
