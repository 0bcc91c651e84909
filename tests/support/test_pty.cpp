#include "test_pty.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace pondara::test {

TestPty::TestPty()
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return;
    char name[128] = {};
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        ::close(fd);
        return;
    }
    m_master = fd;
    m_slave_path = QString::fromLocal8Bit(name);
}

TestPty::~TestPty()
{
    closeMaster();
}

bool TestPty::send(const QByteArray& bytes)
{
    return m_master >= 0 && ::write(m_master, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
}

QByteArray TestPty::receive(int count, int timeout_ms)
{
    QByteArray got;
    const QDeadlineTimer deadline(timeout_ms);
    while (m_master >= 0 && got.size() < count && !deadline.hasExpired()) {
        char buffer[256];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, static_cast<qsizetype>(n));
        else
            QTest::qWait(2);
    }
    return got;
}

QByteArray TestPty::receiveOneRead(int timeout_ms)
{
    const QDeadlineTimer deadline(timeout_ms);
    while (m_master >= 0 && !deadline.hasExpired()) {
        pollfd fd{m_master, POLLIN, 0};
        if (::poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0) {
            char buffer[256];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            return n > 0 ? QByteArray(buffer, static_cast<qsizetype>(n)) : QByteArray();
        }
        QCoreApplication::processEvents();
    }
    return {};
}

void TestPty::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

}  // namespace pondara::test
