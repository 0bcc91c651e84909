#include "fault.h"

namespace pondara::sim {

namespace {

struct FaultEntry {
    Fault fault;
    const char* name;
};

constexpr std::array<FaultEntry, 12> fault_table {{
    {Fault::none, "none"},
    {Fault::split, "split"},
    {Fault::twelve, "twelve"},
    {Fault::stray, "stray"},
    {Fault::truncated, "truncated"},
    {Fault::late, "late"},
    {Fault::header, "header"},
    {Fault::checksum, "checksum"},
    {Fault::noreply, "noreply"},
    {Fault::noise, "noise"},
    {Fault::unplug, "unplug"},
    {Fault::fakezero, "fakezero"},
}};

}  // namespace

QString fault_name(Fault fault)
{
    for (const auto& entry : fault_table) {
        if (entry.fault == fault)
            return QString::fromLatin1(entry.name);
    }
    return QStringLiteral("?");
}

std::optional<Fault> fault_from_name(const QString& name)
{
    for (const auto& entry : fault_table) {
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.fault;
    }
    return std::nullopt;
}

QStringList fault_names()
{
    QStringList names;
    for (const auto& entry : fault_table)
        names.append(QString::fromLatin1(entry.name));
    return names;
}

}  // namespace pondara::sim
