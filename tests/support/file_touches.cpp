#include "file_touches.h"

#include <QFile>

#include <sys/inotify.h>
#include <unistd.h>

namespace pondara::test {

Touches::Touches() : m_fd(inotify_init1(IN_NONBLOCK)) { }

Touches::~Touches() { ::close(m_fd); }

bool Touches::watch(const QString& dir)
{
    return inotify_add_watch(m_fd, QFile::encodeName(dir).constData(),
                             IN_OPEN | IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_DELETE)
           >= 0;
}

QStringList Touches::events() const
{
    QStringList seen;
    alignas(inotify_event) char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            seen.append(QString::fromLocal8Bit(event->len ? event->name : "") + QLatin1Char(' ')
                        + QString::number(event->mask, 16));
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return seen;
}

}  // namespace pondara::test
