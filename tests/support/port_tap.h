#pragma once

#include "serial/port_object.h"

#include <QPointer>

#include <memory>
#include <vector>

namespace pondara::test {

// Hands out the ports of another factory and keeps a pointer to each, so that
// a test can read the state of the ports the windows own. The factory shares
// the record, so it may outlive this object.
class PortTap {
public:
    explicit PortTap(PortFactory make) : m_make(std::move(make)) { }

    PortFactory factory() const
    {
        return [make = m_make, ports = m_ports] {
            std::unique_ptr<PortObject> port = make();
            ports->emplace_back(port.get());
            return port;
        };
    }

    // The first port made (the main window's), and the last (the parameters
    // dialog's while it is open); null once destroyed.
    PortObject* first() const { return m_ports->empty() ? nullptr : m_ports->front().data(); }
    PortObject* last() const { return m_ports->empty() ? nullptr : m_ports->back().data(); }

private:
    PortFactory m_make;
    std::shared_ptr<std::vector<QPointer<PortObject>>> m_ports = std::make_shared<std::vector<QPointer<PortObject>>>();
};

}  // namespace pondara::test
