#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace pondara::test {

// The fields of each line of a recording, quotes removed; an empty list for
// a file that is not whole lines of nine fields each after its header.
QList<QStringList> recording_rows(const QString& path);

}  // namespace pondara::test
