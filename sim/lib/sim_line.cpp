#include "sim_line.h"

#include "platform/virtual_port.h"
#include "reply_shaper.h"

#include <algorithm>

namespace pondara::sim {

using namespace std::chrono_literals;

SimLine::SimLine(int port_number, QObject* parent)
    : QObject(parent),
      m_port_number(port_number),
      m_link(virtual_port_link(port_number)),
      m_rng(1)
{
    m_clock.start();
    m_write_timer.setTimerType(Qt::PreciseTimer);
    m_write_timer.setSingleShot(true);
    connect(&m_write_timer, &QTimer::timeout, this, &SimLine::pump);
    m_unplug_timer.setSingleShot(true);
    connect(&m_unplug_timer, &QTimer::timeout, this, [this] { unplug(); });
    connect(&m_pty, &PseudoTerminal::received, this, &SimLine::take_requests);
}

SimLine::~SimLine() { stop(); }

bool SimLine::start(QString* error)
{
    if (plugged())
        return true;
    if (!open_line(error))
        return false;
    if (m_unplug_after > 0s)
        m_unplug_timer.start(m_unplug_after);
    return true;
}

void SimLine::stop()
{
    m_unplug_timer.stop();
    close_line();
}

bool SimLine::unplug()
{
    if (!plugged())
        return false;
    close_line();
    emit unplugged();
    return true;
}

bool SimLine::replug(QString* error)
{
    if (plugged()) {
        if (error)
            *error = QStringLiteral("port %1 is plugged already").arg(m_port_number);
        return false;
    }
    if (!open_line(error))
        return false;
    emit replugged();
    return true;
}

void SimLine::set_reply_delay(std::chrono::milliseconds delay) { m_reply_delay = std::max(delay, 0ms); }

void SimLine::set_fault(Fault fault)
{
    if (fault == Fault::none)
        m_faults.clear();
    else
        m_faults.set_standing(fault);
}

void SimLine::set_seed(std::uint32_t seed)
{
    m_rng.seed(seed);
    m_module.set_seed(seed);
}

void SimLine::set_unplug_after(std::chrono::seconds after)
{
    m_unplug_after = std::max(after, 0s);
    m_unplug_timer.stop();
    if (plugged() && m_unplug_after > 0s)
        m_unplug_timer.start(m_unplug_after);
}

SimLine::Counters SimLine::counters() const { return {m_module.requests_seen(), m_replies, m_faults_injected}; }

bool SimLine::open_line(QString* error)
{
    if (!m_pty.open(error))
        return false;
    if (!m_link.publish(m_pty.device_path(), error)) {
        m_pty.close();
        return false;
    }
    return true;
}

void SimLine::close_line()
{
    m_write_timer.stop();
    m_schedule.clear();
    m_held.clear();
    m_pty.close();
    m_link.withdraw();
}

void SimLine::take_requests(const QByteArray& bytes)
{
    emit bytes_received(bytes);

    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now());
    m_module.step(elapsed - m_last_step);
    m_last_step = elapsed;

    m_module.set_zero_ignored(m_faults.standing() == Fault::fakezero || m_faults.once() == Fault::fakezero);
    const quint64 seen_before = m_module.requests_seen();
    const std::vector<Packet> replies = m_module.receive(bytes);
    if (m_module.requests_seen() > seen_before && !m_held.isEmpty()) {
        // The rest of a late reply goes out ahead of the new answer.
        m_schedule.add(m_held, now());
        m_held.clear();
    }
    for (const Packet& reply : replies) {
        send_reply(reply);
        if (!plugged())
            return;
    }
    pump();
}

void SimLine::send_reply(const Packet& reply)
{
    const Fault fault = m_faults.next(m_rng);
    if (fault != Fault::none)
        ++m_faults_injected;
    emit reply_sent(reply, fault);
    if (fault == Fault::unplug) {
        unplug();
        return;
    }
    const ShapedReply shaped = shape_reply(reply, fault, m_rng);
    if (shaped.first.isEmpty() && shaped.then.isEmpty())
        return;
    m_schedule.add(shaped.first, now() + m_reply_delay, shaped.then, shaped.gap);
    m_held = shaped.held;
    ++m_replies;
}

void SimLine::pump()
{
    if (!plugged())
        return;
    const ByteSchedule::Time time = now();
    m_pty.write(m_schedule.take_due(time));
    if (const auto next = m_schedule.next_event())
        m_write_timer.start(std::max(std::chrono::ceil<std::chrono::milliseconds>(*next - time), 0ms));
    else
        m_write_timer.stop();
}

ByteSchedule::Time SimLine::now() const { return ByteSchedule::Time(m_clock.nsecsElapsed()); }

}  // namespace pondara::sim
