#include "lock_folder.h"

#include <QDir>

namespace pondara::test {

QString lock_file_for(const QString& device)
{
    QString name = device;
    name.remove(0, int(sizeof "/dev/") - 1).replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("/var/lock/LCK..") + name;
}

QStringList lock_files()
{
    QStringList files;
    for (const char* dir : {"/var/lock", "/run/lock", "/tmp", "/var/tmp"})
        for (const QString& name : QDir(QLatin1String(dir)).entryList({"LCK..*"}, QDir::Files | QDir::System))
            files.append(QLatin1String(dir) + '/' + name);
    return files;
}

}  // namespace pondara::test
