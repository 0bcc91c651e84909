#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QSocketNotifier;

namespace pondara::test {

// The host's end of a serial line in tests: a device opened with plain POSIX
// calls (non-blocking, raw), read on the event loop. Every byte that arrives
// is kept with its arrival time.
class HostPort : public QObject {
    Q_OBJECT

public:
    explicit HostPort(QObject* parent = nullptr);
    ~HostPort() override;

    bool open(const QString& path);
    void close();
    bool is_open() const { return m_fd >= 0; }

    // Writes `bytes` and notes the time.
    bool send(const QByteArray& bytes);

    const QByteArray& received() const { return m_received; }
    // Nanoseconds on this port's clock: when byte `index` arrived, when the
    // last send() was.
    qint64 arrival_ns(qsizetype index) const { return m_arrivals.at(static_cast<std::size_t>(index)); }
    qint64 sent_ns() const { return m_sent_ns; }

    // True once a read has shown the line hung up (end of file or an error).
    bool hung_up() const { return m_hung_up; }

    // Runs the event loop until `count` bytes have arrived in all, or the
    // timeout passes; true if they did.
    bool wait_for_bytes(qsizetype count, int timeout_ms = 5000);
    bool wait_for_hang_up(int timeout_ms = 5000);

signals:
    void changed();

private:
    bool wait_until(const std::function<bool()>& done, int timeout_ms);
    void read_available();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QElapsedTimer m_clock;
    QByteArray m_received;
    std::vector<qint64> m_arrivals;
    qint64 m_sent_ns = 0;
    bool m_hung_up = false;
};

}  // namespace pondara::test
