#pragma once

#include "serial/comm_event_pump.h"
#include "serial/port_object.h"

#include <QByteArray>
#include <QList>
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

namespace pondara::test {

// A scriptable port for window tests. It records what the window does with
// it and lets the test play the device: feed received bytes, fail the next
// opening, lose the device. Like the real port it sends, receives and clears
// nothing while closed, and raises OnComm while RThreshold or more bytes
// wait, again after each handler that took bytes.
class FakePortObject final : public PortObject {
    Q_OBJECT

public:
    explicit FakePortObject(QObject* parent = nullptr);

    void setCommPort(std::int16_t number) override;
    std::int16_t commPort() const override;
    bool portOpen() const override;
    std::optional<OpenFailure> setPortOpen(bool open) override;
    void setRThreshold(std::int16_t bytes) override;
    void clearInBuffer() override;
    int inBufferCount() const override;
    bool setOutput(const Packet& bytes) override;
    std::optional<std::uint8_t> input() override;
    std::int16_t commEvent() const override;
    QString deviceName() const override;

    // The device sends `bytes` (dropped while the port is closed).
    void receive(const QByteArray& bytes);
    // The next opening fails with `failure` (once).
    void fail_next_open(const OpenFailure& failure);
    // The device goes away: the port closes and lost() is emitted. Does
    // nothing while closed.
    void lose(PortLoss::Reason reason = PortLoss::Reason::hung_up, const QString& detail = {});

    // Every packet written while open, oldest first.
    const QList<Packet>& written() const { return m_written; }
    // Calls of clearInBuffer(), open or not.
    int clear_count() const { return m_clear_count; }
    // Successful openings, closings of an open port, failed openings.
    int open_count() const { return m_open_count; }
    int close_count() const { return m_close_count; }
    int failed_open_count() const { return m_failed_open_count; }
    // The port number of the last successful opening (0 before any).
    std::int16_t opened_comm_port() const { return m_opened_comm_port; }
    std::int16_t rThreshold() const { return m_threshold; }
    // The received bytes not yet read.
    const QByteArray& waiting() const { return m_waiting; }

private:
    CommEventPump m_pump;
    QList<Packet> m_written;
    QByteArray m_waiting;
    std::optional<OpenFailure> m_next_failure;
    int m_clear_count = 0;
    int m_open_count = 0;
    int m_close_count = 0;
    int m_failed_open_count = 0;
    std::int16_t m_comm_port = 1;
    std::int16_t m_opened_comm_port = 0;
    std::int16_t m_threshold = 0;
    std::int16_t m_comm_event = 0;
    bool m_open = false;
};

}  // namespace pondara::test
