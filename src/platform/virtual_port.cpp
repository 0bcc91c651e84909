#include "platform/virtual_port.h"

#include <QStandardPaths>

namespace pondara {

QString virtual_port_dir()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/pondara");
}

QString virtual_port_link(int port_number)
{
    return virtual_port_dir() + QStringLiteral("/com") + QString::number(port_number);
}

}  // namespace pondara
