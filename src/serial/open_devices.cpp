#include "serial/open_devices.h"

#include <QSet>

namespace pondara {

namespace {

QSet<QString>& open_devices()
{
    static QSet<QString> devices;
    return devices;
}

}  // namespace

bool device_open_here(const QString& device) { return open_devices().contains(device); }

void note_device_opened(const QString& device) { open_devices().insert(device); }

void note_device_closed(const QString& device) { open_devices().remove(device); }

}  // namespace pondara
