#include "serial/comm_event_pump.h"

#include "serial/port_object.h"

#include <QPointer>

namespace pondara {

void CommEventPump::run(PortObject& port, std::int16_t threshold, const std::function<int()>& readable)
{
    if (m_running || threshold < 1)
        return;
    m_running = true;
    const QPointer<PortObject> alive(&port);
    while (port.portOpen() && readable() >= threshold) {
        m_took = false;
        emit port.onComm();
        if (!alive)
            return;  // this pump was part of the destroyed port
        if (!m_took)
            break;
    }
    m_running = false;
}

}  // namespace pondara
