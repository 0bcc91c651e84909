#pragma once

#include "unique_fd.h"

#include <QString>

namespace pondara::sim {

// A pseudo-terminal standing in for a serial line. The slave side, the
// "device", is set to raw 9600 8N1. One slave descriptor stays open here so
// the line does not hang up whenever the program on the other end closes it;
// closing both (close()) is what unplugging the line looks like to that
// program.
class PseudoTerminal {
public:
    // Opens a new pty; on failure returns false and says why in `error`.
    bool open(QString* error);
    void close();

    bool is_open() const { return m_master.valid(); }
    // Non-blocking, close-on-exec.
    int master_fd() const { return m_master.get(); }
    // The device path, e.g. /dev/pts/5.
    QString slave_path() const { return m_slave_path; }

private:
    UniqueFd m_master;
    UniqueFd m_slave;
    QString m_slave_path;
};

}  // namespace pondara::sim
