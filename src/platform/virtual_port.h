#pragma once

#include <QString>

namespace pondara {

// Virtual ports: port number N may be given a device by a symbolic link named
// com<N> in the folder "pondara" under the user's runtime directory
// ($XDG_RUNTIME_DIR/pondara/com1). The simulated module publishes its
// pseudo-terminal this way, and a user can number any device by hand.
QString virtual_port_dir();
QString virtual_port_link(int port_number);

}  // namespace pondara
