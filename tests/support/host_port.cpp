#include "host_port.h"

#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace pondara::test {

HostPort::HostPort(QObject* parent) : QObject(parent) { m_clock.start(); }

HostPort::~HostPort() { close(); }

bool HostPort::open(const QString& path)
{
    close();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios settings{};
    if (::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    m_fd = fd;
    m_hung_up = false;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HostPort::read_available);
    return true;
}

void HostPort::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool HostPort::send(const QByteArray& bytes)
{
    m_sent_ns = m_clock.nsecsElapsed();
    return m_fd >= 0 && ::write(m_fd, bytes.constData(), static_cast<std::size_t>(bytes.size())) == bytes.size();
}

void HostPort::read_available()
{
    char buffer[256];
    for (;;) {
        const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
        if (count > 0) {
            const qint64 now = m_clock.nsecsElapsed();
            m_received.append(buffer, count);
            m_arrivals.insert(m_arrivals.end(), static_cast<std::size_t>(count), now);
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        m_hung_up = true;  // end of file or EIO: the other end is gone
        m_notifier->setEnabled(false);
        break;
    }
    emit changed();
}

bool HostPort::wait_until(const std::function<bool()>& done, int timeout_ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &HostPort::changed, &loop, [&] {
        if (done())
            loop.quit();
    });
    deadline.start(timeout_ms);
    loop.exec();
    return done();
}

bool HostPort::wait_for_bytes(qsizetype count, int timeout_ms)
{
    return wait_until([&] { return m_received.size() >= count; }, timeout_ms);
}

bool HostPort::wait_for_hang_up(int timeout_ms)
{
    return wait_until([&] { return m_hung_up; }, timeout_ms);
}

}  // namespace pondara::test
