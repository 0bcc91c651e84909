#include "fake_port_object.h"

namespace pondara::test {

FakePortObject::FakePortObject(QObject* parent) : PortObject(parent) { }

void FakePortObject::setCommPort(std::int16_t number) { m_comm_port = number; }

std::int16_t FakePortObject::commPort() const { return m_comm_port; }

bool FakePortObject::portOpen() const { return m_open; }

std::optional<OpenFailure> FakePortObject::setPortOpen(bool open)
{
    if (!open) {
        if (m_open)
            ++m_close_count;
        m_open = false;
        m_waiting.clear();
        return std::nullopt;
    }
    if (m_open)
        return std::nullopt;
    if (m_next_failure) {
        const OpenFailure failure = *m_next_failure;
        m_next_failure.reset();
        ++m_failed_open_count;
        return failure;
    }
    m_open = true;
    m_waiting.clear();
    m_comm_event = 0;
    ++m_open_count;
    m_opened_comm_port = m_comm_port;
    return std::nullopt;
}

void FakePortObject::setRThreshold(std::int16_t bytes) { m_threshold = bytes; }

void FakePortObject::clearInBuffer()
{
    ++m_clear_count;
    m_waiting.clear();
    m_pump.took_bytes();
}

int FakePortObject::inBufferCount() const { return static_cast<int>(m_waiting.size()); }

bool FakePortObject::setOutput(const Packet& bytes)
{
    if (m_open)
        m_written.append(bytes);
    return m_open;
}

std::optional<std::uint8_t> FakePortObject::input()
{
    if (m_waiting.isEmpty())
        return std::nullopt;
    const auto byte = static_cast<std::uint8_t>(m_waiting.front());
    m_waiting.remove(0, 1);
    m_pump.took_bytes();
    return byte;
}

std::int16_t FakePortObject::commEvent() const { return m_comm_event; }

QString FakePortObject::deviceName() const
{
    return m_open ? QStringLiteral("/dev/fake%1").arg(m_opened_comm_port) : QString();
}

void FakePortObject::receive(const QByteArray& bytes)
{
    if (!m_open)
        return;
    m_waiting.append(bytes);
    m_comm_event = com_ev_receive;
    m_pump.run(*this, m_threshold, [this] { return inBufferCount(); });
}

void FakePortObject::fail_next_open(const OpenFailure& failure) { m_next_failure = failure; }

void FakePortObject::lose(PortLoss::Reason reason, const QString& detail)
{
    if (!m_open)
        return;
    const PortLoss loss {reason, deviceName(), detail};
    m_open = false;
    m_waiting.clear();
    emit lost(loss);
}

}  // namespace pondara::test
