#pragma once

#include <QString>
#include <QStringList>

namespace pondara::test {

// The lock file Qt keeps in /var/lock while `device` is open: LCK.. and the
// path after "/dev/" with '/' made '_' ("/dev/pts/3" gives
// "/var/lock/LCK..pts_3").
QString lock_file_for(const QString& device);

// Every LCK.. file in the folders Qt may keep serial port locks in.
QStringList lock_files();

}  // namespace pondara::test
