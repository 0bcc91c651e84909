#include "sim_console.h"

#include "sim_line.h"

#include <QStringList>

#include <cmath>
#include <optional>

namespace pondara::sim {

namespace {

QString error(const QString& message) { return QStringLiteral("error: ") + message; }

std::optional<bool> on_off(const QString& word)
{
    if (word == QLatin1String("on"))
        return true;
    if (word == QLatin1String("off"))
        return false;
    return std::nullopt;
}

std::optional<double> finite_number(const QString& word)
{
    bool ok = false;
    const double value = word.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Plain decimals up to 10 significant digits, no exponent for loads.
QString decimal(double value) { return QString::number(value, 'g', 10); }

QString on_off_name(bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); }

QString fault_state(const SimLine& line)
{
    QString text = QStringLiteral("fault ") + fault_name(line.faults().standing());
    if (const auto once = line.faults().once())
        text += QStringLiteral(" (next reply: %1)").arg(fault_name(*once));
    return text + QStringLiteral(", fault-rate ") + decimal(line.faults().rate());
}

QString line_state(const SimLine& line)
{
    const ModuleSim& module = line.module();
    const ScaleModel& scale = module.scale();
    const QString where = line.plugged()
                              ? QStringLiteral("port %1 = %2 (link %3)")
                                    .arg(line.port_number())
                                    .arg(line.device_path(), line.link_path())
                              : QStringLiteral("port %1 unplugged").arg(line.port_number());
    return QStringLiteral("%1, address %2, load %3 (now %4), drift %5, noise %6, zero %7, zhouqi %8, "
                          "kuandu %9, pacing %10, delay %11 ms, %12")
        .arg(where)
        .arg(module.address())
        .arg(decimal(scale.load()), decimal(scale.present_load()))
        .arg(on_off_name(scale.drift()), on_off_name(scale.noise()))
        .arg(scale.zero_point())
        .arg(module.zhouqi())
        .arg(module.kuandu())
        .arg(on_off_name(line.pacing()))
        .arg(line.reply_delay().count())
        .arg(fault_state(line));
}

QString stats(const SimLine& line)
{
    const SimLine::Counters counters = line.counters();
    return QStringLiteral("requests %1, replies %2, faults %3")
        .arg(counters.requests)
        .arg(counters.replies)
        .arg(counters.faults);
}

QString set_fault(SimLine& line, const QStringList& words)
{
    if (words.size() == 1)
        return fault_state(line);
    const auto fault = fault_from_name(words[1]);
    if (!fault)
        return error(QStringLiteral("unknown fault '%1'; faults: %2").arg(words[1], fault_names().join(QLatin1Char(' '))));
    const bool once = words.size() == 3 && words[2] == QLatin1String("once");
    if (words.size() > 3 || (words.size() == 3 && !once))
        return error(QStringLiteral("usage: fault NAME [once]"));
    if (once)
        line.set_fault_once(*fault);
    else
        line.set_fault(*fault);
    return QStringLiteral("fault %1%2").arg(fault_name(*fault), once ? QStringLiteral(" once") : QString());
}

QString replug(SimLine& line)
{
    QString why;
    if (!line.replug(&why))
        return error(why);
    return QStringLiteral("replugged port %1 = %2 (link %3)").arg(line.port_number()).arg(line.device_path(), line.link_path());
}

// Commands of the form "NAME VALUE".
QString set_value(SimLine& line, const QString& name, const QString& value)
{
    if (name == QLatin1String("load")) {
        const auto load = finite_number(value);
        if (!load)
            return error(QStringLiteral("load needs a number"));
        line.module().set_load(*load);
        return QStringLiteral("load ") + decimal(*load);
    }
    if (name == QLatin1String("drift") || name == QLatin1String("noise") || name == QLatin1String("pacing")) {
        const auto on = on_off(value);
        if (!on)
            return error(QStringLiteral("%1 takes on or off").arg(name));
        if (name == QLatin1String("drift"))
            line.module().set_drift(*on);
        else if (name == QLatin1String("noise"))
            line.module().set_noise(*on);
        else
            line.set_pacing(*on);
        return name + QLatin1Char(' ') + on_off_name(*on);
    }
    if (name == QLatin1String("address")) {
        const auto address = whole_number(value, 0, 255);
        if (!address)
            return error(QStringLiteral("address takes 0..255"));
        line.module().set_address(static_cast<std::uint8_t>(*address));
        return QStringLiteral("address %1").arg(*address);
    }
    if (name == QLatin1String("delay")) {
        const auto delay = whole_number(value, 0, 60'000);
        if (!delay)
            return error(QStringLiteral("delay takes 0..60000 ms"));
        line.set_reply_delay(std::chrono::milliseconds(*delay));
        return QStringLiteral("delay %1 ms").arg(*delay);
    }
    if (name == QLatin1String("fault-rate")) {
        const auto rate = finite_number(value);
        if (!rate || *rate < 0.0 || *rate > 1.0)
            return error(QStringLiteral("fault-rate takes 0..1"));
        line.set_fault_rate(*rate);
        return QStringLiteral("fault-rate ") + decimal(*rate);
    }
    if (name == QLatin1String("seed")) {
        const auto seed = whole_number(value, 0, 0xFFFFFFFFLL);
        if (!seed)
            return error(QStringLiteral("seed takes 0..4294967295"));
        line.set_seed(static_cast<std::uint32_t>(*seed));
        return QStringLiteral("seed %1").arg(*seed);
    }
    if (name == QLatin1String("unplug-after")) {
        const auto seconds = whole_number(value, 0, 86'400);
        if (!seconds)
            return error(QStringLiteral("unplug-after takes 0..86400 s"));
        line.set_unplug_after(std::chrono::seconds(*seconds));
        return QStringLiteral("unplug-after %1 s").arg(*seconds);
    }
    return {};
}

}  // namespace

std::optional<long long> whole_number(const QString& word, long long low, long long high)
{
    bool ok = false;
    const long long value = word.toLongLong(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

QString console_help()
{
    return QStringLiteral(
               "commands: load X | drift on|off | noise on|off | address A | delay MS | pacing on|off | "
               "fault NAME [once] | fault-rate P | seed S | unplug | replug | unplug-after S | "
               "state | stats | help; faults: %1")
        .arg(fault_names().join(QLatin1Char(' ')));
}

QString run_console_command(SimLine& line, const QString& text)
{
    const QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return {};
    const QString& name = words[0];
    if (name == QLatin1String("fault"))
        return set_fault(line, words);
    if (words.size() == 1) {
        if (name == QLatin1String("help"))
            return console_help();
        if (name == QLatin1String("stats"))
            return stats(line);
        if (name == QLatin1String("state"))
            return line_state(line);
        if (name == QLatin1String("unplug"))
            return line.unplug() ? QStringLiteral("unplugged port %1").arg(line.port_number())
                                 : error(QStringLiteral("port %1 is not plugged").arg(line.port_number()));
        if (name == QLatin1String("replug"))
            return replug(line);
    }
    if (words.size() == 2) {
        const QString answer = set_value(line, name, words[1]);
        if (!answer.isEmpty())
            return answer;
    }
    return error(QStringLiteral("unknown command '%1' (try help)").arg(text.simplified()));
}

}  // namespace pondara::sim
