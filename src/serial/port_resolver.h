#pragma once

#include "serial/port_object.h"

#include <QString>
#include <QStringList>

#include <variant>

namespace pondara {

// Where a port number leads.
struct PortTarget {
    QString path;  // what the number names: a virtual port link or a device entry
    QString device;  // the device itself, every symbolic link resolved
    bool is_virtual = false;
};

// Turns port numbers into devices. Port N is the virtual port link com<N>
// when it exists (even when it leads nowhere); otherwise the N-th of the
// machine's serial ports, numbered from 1: first the built-in UARTs (ttyS,
// then ttyAMA) that have hardware behind them, then the USB adapters (ttyUSB,
// then ttyACM), each family in numeric order (ttyS2 before ttyS10).
class PortResolver {
public:
    struct Roots {
        QString virtual_dir;  // folder of the com<N> links
        QString dev;  // device folder, normally /dev
        QString sys_tty;  // the kernel's tty class folder, normally /sys/class/tty
    };

    // The running system's folders; the virtual folder follows the current
    // runtime directory.
    static Roots system_roots();

    explicit PortResolver(Roots roots = system_roots());

    // The device of port `number`, or why there is none: no_such_port (the
    // detail lists the ports that exist) or not_a_device (the number leads to
    // a missing file, a regular file, a folder, anything but a character
    // device). Nothing is opened or written.
    std::variant<PortTarget, OpenFailure> resolve(int number) const;

    // The machine's serial ports in numbering order, as device entry paths.
    QStringList machine_ports() const;

    // The current numbering, one line a port: "1 = /dev/ttyUSB0", or for a
    // virtual port "2 = <link> → /dev/pts/4".
    QStringList mapping() const;

private:
    QString virtual_link(int number) const;
    QList<int> virtual_numbers() const;
    bool uart_present(const QString& name, bool needs_type) const;

    Roots m_roots;
};

}  // namespace pondara
