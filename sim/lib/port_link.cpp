#include "port_link.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pondara::sim {

namespace {

// The target of the link at `path`, or nothing if `path` is no link.
std::optional<QByteArray> link_target(const QByteArray& path)
{
    struct stat info { };
    if (::lstat(path.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
        return std::nullopt;
    QByteArray target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.constData(), target.data(), static_cast<std::size_t>(target.size()));
    if (length < 0)
        return std::nullopt;
    target.truncate(length);
    return target;
}

bool set_error(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

}  // namespace

PortLink::~PortLink() { withdraw(); }

bool PortLink::publish(const QString& target, QString* error)
{
    withdraw();
    const QString dir = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(dir))
        return set_error(error, QStringLiteral("cannot create the folder %1").arg(dir));
    const QByteArray path = QFile::encodeName(m_path);
    const QByteArray target_name = QFile::encodeName(target);
    // Two tries: the second after clearing away a stale link.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::symlink(target_name.constData(), path.constData()) == 0) {
            m_target = target;
            return true;
        }
        if (errno != EEXIST) {
            return set_error(error, QStringLiteral("cannot create the link %1: %2")
                                        .arg(m_path, QString::fromLocal8Bit(std::strerror(errno))));
        }
        const auto existing = link_target(path);
        if (!existing)
            return set_error(error, QStringLiteral("%1 exists and is not a link; leaving it alone").arg(m_path));
        struct stat info { };
        if (::stat(path.constData(), &info) == 0) {
            return set_error(error, QStringLiteral("the port is in use: %1 points to %2, which exists")
                                        .arg(m_path, QFile::decodeName(*existing)));
        }
        ::unlink(path.constData());
    }
    return set_error(error, QStringLiteral("cannot replace the stale link %1").arg(m_path));
}

void PortLink::withdraw()
{
    if (m_target.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(m_path);
    if (link_target(path) == QFile::encodeName(m_target))
        ::unlink(path.constData());
    m_target.clear();
}

}  // namespace pondara::sim
