#include "sim_console.h"

#include "sim_line.h"

namespace pondara::sim {

namespace {

QString error(const QString& message) { return QStringLiteral("error: ") + message; }

QString on_off_name(bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); }

QString fault_state(const SimLine& line)
{
    QString text = QStringLiteral("fault ") + fault_name(line.faults().standing());
    if (const auto once = line.faults().once())
        text += QStringLiteral(" (next reply: %1)").arg(fault_name(*once));
    return text + QStringLiteral(", fault-rate ") + decimal_text(line.faults().rate());
}

// The bus's other modules, one clause each: "module 5: load 1500 (now
// 1500), fault none".
QString bus_state(const SimLine& line)
{
    QString text;
    const std::vector<std::uint8_t> addresses = line.addresses();
    for (std::size_t i = 1; i < addresses.size(); ++i) {
        const ModuleSim& module = *line.module_at(addresses[i]);
        text += QStringLiteral("; module %1: load %2 (now %3), drift %4, noise %5, fault %6")
                    .arg(addresses[i])
                    .arg(decimal_text(module.scale().load()), decimal_text(module.scale().present_load()))
                    .arg(on_off_name(module.scale().drift()), on_off_name(module.scale().noise()))
                    .arg(fault_name(line.faults_at(addresses[i])->standing()));
    }
    return text;
}

QString line_state(const SimLine& line)
{
    const ModuleSim& module = line.module();
    const ScaleModel& scale = module.scale();
    const QString where = line.plugged() ? QStringLiteral("port %1 = %2 (link %3)")
                                               .arg(line.port_number())
                                               .arg(line.device_path(), line.link_path())
                                         : QStringLiteral("port %1 unplugged").arg(line.port_number());
    return QStringLiteral("%1, address %2, load %3 (now %4), drift %5, noise %6, zero %7, zhouqi %8, "
                          "kuandu %9, pacing %10, delay %11 ms, %12")
               .arg(where)
               .arg(address_list(line.addresses()))
               .arg(decimal_text(scale.load()), decimal_text(scale.present_load()))
               .arg(on_off_name(scale.drift()), on_off_name(scale.noise()))
               .arg(scale.zero_point())
               .arg(module.zhouqi())
               .arg(module.kuandu())
               .arg(on_off_name(line.pacing()))
               .arg(line.reply_delay().count())
               .arg(fault_state(line))
           + bus_state(line);
}

// Runs `change` on the module the command names, or on every module.
template <typename Change>
QString on_modules(SimLine& line, const Command& command, Change change)
{
    if (!command.module) {
        for (const std::uint8_t address : line.addresses())
            change(*line.module_at(address));
        return describe(command);
    }
    ModuleSim* module = line.module_at(*command.module);
    if (!module)
        return error(QStringLiteral("no module at address %1").arg(*command.module));
    change(*module);
    return describe(command);
}

QString stats(const SimLine& line)
{
    const SimLine::Counters counters = line.counters();
    return QStringLiteral("requests %1, replies %2, faults %3")
        .arg(counters.requests)
        .arg(counters.replies)
        .arg(counters.faults);
}

QString unplug(SimLine& line)
{
    if (!line.unplug())
        return error(QStringLiteral("port %1 is not plugged").arg(line.port_number()));
    return QStringLiteral("unplugged port %1").arg(line.port_number());
}

QString replug(SimLine& line)
{
    QString why;
    if (!line.replug(&why))
        return error(why);
    return QStringLiteral("replugged port %1 = %2 (link %3)")
        .arg(line.port_number())
        .arg(line.device_path(), line.link_path());
}

}  // namespace

QString run_command(SimLine& line, const Command& command)
{
    const auto whole = [&] { return std::get<long long>(command.value); };
    const auto number = [&] { return std::get<double>(command.value); };
    const auto on = [&] { return std::get<bool>(command.value); };
    switch (command.verb) {
    case Verb::port:
        return error(QStringLiteral("the port is chosen at start"));
    case Verb::address:
        line.set_addresses(std::get<std::vector<std::uint8_t>>(command.value));
        break;
    case Verb::load:
        return on_modules(line, command, [&](ModuleSim& module) { module.set_load(number()); });
    case Verb::drift:
        return on_modules(line, command, [&](ModuleSim& module) { module.set_drift(on()); });
    case Verb::noise:
        return on_modules(line, command, [&](ModuleSim& module) { module.set_noise(on()); });
    case Verb::pacing:
        line.set_pacing(on());
        break;
    case Verb::delay:
        line.set_reply_delay(std::chrono::milliseconds(whole()));
        break;
    case Verb::fault: {
        const Fault fault = std::get<Fault>(command.value);
        if (!(command.once ? line.set_fault_once(fault, command.module) : line.set_fault(fault, command.module)))
            return error(QStringLiteral("no module at address %1").arg(*command.module));
        break;
    }
    case Verb::fault_rate:
        line.set_fault_rate(number());
        break;
    case Verb::seed:
        line.set_seed(static_cast<std::uint32_t>(whole()));
        break;
    case Verb::unplug_after:
        line.set_unplug_after(std::chrono::seconds(whole()));
        break;
    case Verb::show_fault:
        return fault_state(line);
    case Verb::state:
        return line_state(line);
    case Verb::stats:
        return stats(line);
    case Verb::help:
        return console_help();
    case Verb::unplug:
        return unplug(line);
    case Verb::replug:
        return replug(line);
    }
    return describe(command);
}

QString run_console_command(SimLine& line, const QString& text)
{
    const Parsed parsed = parse_command(text);
    if (!parsed.command)
        return parsed.error.isEmpty() ? QString() : error(parsed.error);
    return run_command(line, *parsed.command);
}

}  // namespace pondara::sim
