#include "sim_line.h"

#include "reply_shaper.h"
#include "serial/virtual_port.h"
#include "sim_console.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace pondara::sim {

using namespace std::chrono_literals;

SimLine::SimLine(int port_number, QObject* parent)
    : QObject(parent), m_port_number(port_number), m_link(virtual_port_link(port_number)), m_rng(1)
{
    m_clock.start();
    m_write_timer.setTimerType(Qt::PreciseTimer);
    m_write_timer.setSingleShot(true);
    connect(&m_write_timer, &QTimer::timeout, this, &SimLine::pump);
    m_unplug_timer.setSingleShot(true);
    connect(&m_unplug_timer, &QTimer::timeout, this, [this] { unplug(); });
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

SimLine::Counters SimLine::counters() const
{
    return {m_module.requests_seen(), m_replies, m_faults_injected};
}

QString SimLine::command(const QString& line) { return run_console_command(*this, line); }

bool SimLine::open_line(QString* error)
{
    if (!m_pty.open(error))
        return false;
    if (!m_link.publish(m_pty.slave_path(), error)) {
        m_pty.close();
        return false;
    }
    m_reader = new QSocketNotifier(m_pty.master_fd(), QSocketNotifier::Read, this);
    connect(m_reader, &QSocketNotifier::activated, this, &SimLine::read_requests);
    return true;
}

void SimLine::close_line()
{
    if (m_reader) {
        // Possibly called from the notifier's own signal: delete it later.
        m_reader->setEnabled(false);
        m_reader->deleteLater();
        m_reader = nullptr;
    }
    m_write_timer.stop();
    m_schedule.clear();
    m_held.clear();
    m_pty.close();
    m_link.withdraw();
}

void SimLine::read_requests()
{
    QByteArray bytes;
    char buffer[256];
    for (;;) {
        const ssize_t count = ::read(m_pty.master_fd(), buffer, sizeof buffer);
        if (count > 0) {
            bytes.append(buffer, count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // The line is broken for good; stop the notifier firing on it.
            m_reader->setEnabled(false);
        }
        break;
    }
    if (bytes.isEmpty())
        return;
    emit bytes_received(bytes);

    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now());
    m_module.step(elapsed - m_last_step);
    m_last_step = elapsed;

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
    const QByteArray due = m_schedule.take_due(time);
    qsizetype written = 0;
    while (written < due.size()) {
        const ssize_t count = ::write(m_pty.master_fd(), due.constData() + written,
                                     static_cast<std::size_t>(due.size() - written));
        if (count > 0)
            written += count;
        else if (!(count < 0 && errno == EINTR))
            break;  // nobody is reading and the line is full: the bytes are lost, as on a wire
    }
    if (const auto next = m_schedule.next_event())
        m_write_timer.start(std::max(std::chrono::ceil<std::chrono::milliseconds>(*next - time), 0ms));
    else
        m_write_timer.stop();
}

ByteSchedule::Time SimLine::now() const { return ByteSchedule::Time(m_clock.nsecsElapsed()); }

}  // namespace pondara::sim
