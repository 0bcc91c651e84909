#pragma once

#include "serial/port_object.h"

namespace pondara {

// The program's factory: each call makes a QtPortObject on the real system.
PortFactory make_port_factory();

}  // namespace pondara
