#include "fault.h"

namespace pondara::sim {

QString fault_name(Fault fault)
{
    if (static_cast<std::size_t>(fault) < fault_table.size())
        return QString::fromLatin1(fault_row(fault).name);
    return QStringLiteral("?");
}

std::optional<Fault> fault_from_name(const QString& name)
{
    for (const FaultRow& row : fault_table) {
        if (name.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0)
            return row.fault;
    }
    return std::nullopt;
}

QStringList fault_names()
{
    QStringList names;
    for (const FaultRow& row : fault_table)
        names.append(QString::fromLatin1(row.name));
    return names;
}

}  // namespace pondara::sim
