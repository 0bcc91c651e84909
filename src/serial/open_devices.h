#pragma once

#include <QString>

namespace pondara {

// The devices this process has open, by canonical path. Qt's lock file
// already refuses a second opening of the same path, but it is named after
// the path and lives in a folder Qt picks; this record makes a second opening
// of one device within the program fail plainly as "in use".
bool device_open_here(const QString& device);
void note_device_opened(const QString& device);
void note_device_closed(const QString& device);

}  // namespace pondara
