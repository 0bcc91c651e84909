#pragma once

#include "serial/port_object.h"

#include <QString>

#include <cstdint>

namespace pondara {

// The lock file of a serial device, as serial programs leave it in the lock
// folder: LCK.. followed by the device path without "/dev/" and with every
// '/' made '_' (LCK..ttyUSB0, LCK..pts_3), where Qt's QSerialPort looks.
//
// Its holder is read from any of the formats in use: a 4-byte binary process
// id; the process id as ten ASCII characters and a newline, with or without
// a program and user name after it; and Qt's lines of process id, program,
// host name, machine id and boot id.
struct DeviceLock {
    enum class Holder : std::uint8_t {
        none,  // no lock file
        running,  // the process named runs: the device is in use
        // The process named is gone, its id now belongs to another program, or
        // the machine was started again since (Qt's lock says which).
        stale,
        unknown,  // no process id in it, or another machine's: Qt's age rule decides
        suspicious,  // a symbolic link or no regular file: never read nor touched
    };
    Holder holder = Holder::none;
    QString path;  // as found
    QString shown_path;  // with its folder's links resolved, not its own (/var/lock is often /run/lock)
    // The program that holds it: its process name where /proc tells it,
    // otherwise the name in the file (the name in the file for a stale lock).
    QString program;
    qint64 pid = 0;
};

// Reads the lock file of `device` and judges its holder; changes nothing.
DeviceLock read_device_lock(const QString& device);

// Removes a stale lock as Qt does, so that a Qt program trying the same at
// the same time never removes the lock that one of the two has just made:
// under the lock file's ".rmlock" lock, after a second look, and only when
// no process holds a file lock on it. False when it is not stale any more
// or this user may not remove it.
bool remove_stale_lock(const DeviceLock& lock);

// Why a device whose lock file is `lock` cannot be opened: in use, a stale
// lock this user may not remove, or a suspicious lock. `words` are the
// system's own, if any.
OpenFailure lock_failure(const QString& device, const DeviceLock& lock, const QString& words = {});

}  // namespace pondara
