#include "virtual_port_links.h"

#include "platform/virtual_port.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace pondara::test {

bool use_runtime_dir(const QTemporaryDir& dir)
{
    if (!dir.isValid() || !QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    return qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
}

bool publish_virtual_port(int number, const QString& target)
{
    remove_virtual_port(number);
    return QDir().mkpath(virtual_port_dir()) && QFile::link(target, virtual_port_link(number));
}

bool remove_virtual_port(int number)
{
    const QString link = virtual_port_link(number);
    return QFile::remove(link) || !QFileInfo(link).isSymLink();
}

}  // namespace pondara::test
