#include "bench_line.h"

#include "bench_clock.h"
#include "serial/virtual_port.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <unistd.h>

namespace pondara::bench {

using namespace std::chrono_literals;

BenchLine::BenchLine(int port_number, bool answer, QObject* parent)
    : QObject(parent), m_answer(answer), m_link(virtual_port_link(port_number))
{
    m_clock.start();
    m_write_timer.setTimerType(Qt::PreciseTimer);
    m_write_timer.setSingleShot(true);
    connect(&m_write_timer, &QTimer::timeout, this, &BenchLine::pump);
}

BenchLine::~BenchLine() { unplug(); }

bool BenchLine::start(QString* error)
{
    if (!m_pty.open(error))
        return false;
    if (!m_link.publish(m_pty.slave_path(), error)) {
        m_pty.close();
        return false;
    }
    m_reader = new QSocketNotifier(m_pty.master_fd(), QSocketNotifier::Read, this);
    connect(m_reader, &QSocketNotifier::activated, this, &BenchLine::read_requests);
    return true;
}

void BenchLine::unplug()
{
    if (m_reader) {
        m_reader->setEnabled(false);
        m_reader->deleteLater();
        m_reader = nullptr;
    }
    m_write_timer.stop();
    m_schedule.clear();
    m_pty.close();
    m_link.withdraw();
}

void BenchLine::read_requests()
{
    const std::int64_t arrived = now_ns();
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
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            m_reader->setEnabled(false);
        break;
    }
    if (bytes.isEmpty())
        return;
    const quint64 before = m_module.requests_seen();
    const std::vector<Packet> replies = m_module.receive(bytes);
    for (quint64 i = before; i < m_module.requests_seen(); ++i) {
        m_arrivals.push_back(arrived);
        ++m_requests;
    }
    if (!m_answer)
        return;
    for (const Packet& reply : replies)
        m_schedule.add(QByteArray(reinterpret_cast<const char*>(reply.data()), reply.size()), now());
    pump();
}

void BenchLine::pump()
{
    if (!m_pty.is_open())
        return;
    const sim::ByteSchedule::Time time = now();
    const QByteArray due = m_schedule.take_due(time);
    qsizetype written = 0;
    while (written < due.size()) {
        const ssize_t count = ::write(m_pty.master_fd(), due.constData() + written,
                                      static_cast<std::size_t>(due.size() - written));
        if (count > 0)
            written += count;
        else if (!(count < 0 && errno == EINTR))
            break;
    }
    if (const auto next = m_schedule.next_event())
        m_write_timer.start(std::max(std::chrono::ceil<std::chrono::milliseconds>(*next - time), 0ms));
}

sim::ByteSchedule::Time BenchLine::now() const { return sim::ByteSchedule::Time(m_clock.nsecsElapsed()); }

}  // namespace pondara::bench
