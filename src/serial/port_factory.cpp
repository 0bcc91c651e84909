#include "serial/port_factory.h"

#include "serial/qt_port_object.h"

namespace pondara {

PortFactory make_port_factory()
{
    return [] { return std::make_unique<QtPortObject>(); };
}

}  // namespace pondara
