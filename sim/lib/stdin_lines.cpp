#include "stdin_lines.h"

#include <QSocketNotifier>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pondara::sim {

StdinLines::StdinLines(QObject* parent) : QObject(parent)
{
    if (::fcntl(STDIN_FILENO, F_GETFD) < 0)
        return;  // no standard input at all
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StdinLines::read_some);
}

void StdinLines::read_some()
{
    // One read per notification: it cannot block, and standard input stays
    // blocking for whoever shares it.
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0) {
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            finish();
        return;
    }
    if (count == 0) {
        finish();
        return;
    }
    m_pending.append(buffer, count);
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        emit line_read(QString::fromLocal8Bit(line).trimmed());
    }
}

void StdinLines::finish()
{
    m_notifier->setEnabled(false);
    if (!m_pending.isEmpty()) {
        emit line_read(QString::fromLocal8Bit(m_pending).trimmed());
        m_pending.clear();
    }
    emit closed();
}

}  // namespace pondara::sim
