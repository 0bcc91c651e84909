#include "serial/device_lock.h"

#include "serial/logging.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pondara {

namespace {

// The highest process id Linux hands out (PID_MAX_LIMIT on 64-bit machines).
constexpr qint64 max_pid = 4 * 1024 * 1024;
// More than any lock format needs; a longer file is read this far.
constexpr qint64 max_lock_size = 1024;

// Where Qt 6 puts the lock file of `device`: the first readable folder of
// Qt's list that holds such a file or may be written.
QString lock_file_path(const QString& device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name = QStringLiteral("/LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
    static const QStringList folders {QStringLiteral("/var/lock"),
                                      QStringLiteral("/etc/locks"),
                                      QStringLiteral("/var/spool/locks"),
                                      QStringLiteral("/var/spool/uucp"),
                                      QStringLiteral("/tmp"),
                                      QStringLiteral("/var/tmp"),
                                      QStringLiteral("/var/lock/lockdev"),
                                      QStringLiteral("/run/lock"),
                                      QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString& folder : folders) {
        const QFileInfo info(folder);
        if (info.isReadable() && (QFile::exists(folder + name) || info.isWritable()))
            return folder + name;
    }
    return {};
}

// What a lock file says of its holder.
struct LockText {
    qint64 pid = 0;
    QByteArray program;  // the name after the id, or Qt's program line
    bool qt = false;  // Qt's lines, whose program can be held against the process's
    QByteArray host;
    QByteArray machine_id;
    QByteArray boot_id;
};

LockText parse_lock(const QByteArray& bytes)
{
    LockText text;
    if (bytes.size() == 4) {
        // Binary, in the machine's byte order. Four characters of text give a
        // number far above any process id.
        std::int32_t pid = 0;
        std::memcpy(&pid, bytes.constData(), sizeof pid);
        if (pid > 0 && pid <= max_pid) {
            text.pid = pid;
            return text;
        }
    }
    const QList<QByteArray> lines = bytes.split('\n');
    const QList<QByteArray> words = lines.first().simplified().split(' ');
    bool number = false;
    const qint64 pid = words.first().toLongLong(&number);
    text.pid = number && pid > 0 && pid <= max_pid ? pid : 0;
    if (words.size() > 1) {
        text.program = words.at(1);  // "%10d program user"
        return text;
    }
    // "%10d\n" ends after its one line; Qt's "pid\nprogram\nhost\n..." does not.
    text.qt = lines.size() >= 3;
    if (text.qt) {
        text.program = lines.at(1);
        text.host = lines.at(2);
        text.machine_id = lines.value(3);
        text.boot_id = lines.value(4);
    }
    return text;
}

// The file name of the program of process `pid`, as Qt reads it; empty where
// the system does not let this user read it (another user's process).
QByteArray program_file_name(qint64 pid)
{
    char target[PATH_MAX];
    const ssize_t size
        = ::readlink(QByteArray("/proc/" + QByteArray::number(pid) + "/exe").constData(), target, sizeof target);
    if (size <= 0)
        return {};
    QByteArray path(target, size);
    if (path.endsWith(" (deleted)"))
        path.chop(10);
    return path.mid(path.lastIndexOf('/') + 1);
}

// The kernel's name of process `pid`, readable by everyone: the file name it
// was started by, cut to 15 bytes.
QByteArray process_name(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    QByteArray name = comm.readAll();
    if (name.endsWith('\n'))
        name.chop(1);
    return name;
}

// Whether process `pid`, which runs, is still the one that wrote Qt's lock
// naming `program`, judged as Qt does by its program's file name, or where
// that is unreadable by its process name. Qt's lock is locked by a file lock
// too while its holder lives, which settles it.
bool same_program(qint64 pid, const QByteArray& program, bool file_locked)
{
    if (file_locked || program.isEmpty())
        return true;
    QFileInfo named(QFile::decodeName(program));
    if (named.isSymLink())
        named.setFile(named.symLinkTarget());
    const QByteArray expected = QFile::encodeName(named.fileName());
    if (const QByteArray running = program_file_name(pid); !running.isEmpty())
        return running == expected;
    const QByteArray name = process_name(pid);
    return name.isEmpty() || name == expected.left(15);
}

DeviceLock::Holder judge(const LockText& text, bool file_locked)
{
    using Holder = DeviceLock::Holder;
    if (text.pid <= 0)
        return Holder::unknown;
    // Like Qt, judge only processes of this machine, by its id where the lock
    // has one.
    bool here = text.host.isEmpty() || text.host == QSysInfo::machineHostName().toUtf8();
    if (const QByteArray machine = QSysInfo::machineUniqueId(); !text.machine_id.isEmpty() && !machine.isEmpty())
        here = text.machine_id == machine;
    if (!here)
        return Holder::unknown;
    if (!text.boot_id.isEmpty() && text.boot_id != QSysInfo::bootUniqueId())
        return Holder::stale;
    if (::kill(static_cast<pid_t>(text.pid), 0) != 0 && errno == ESRCH)
        return Holder::stale;
    if (text.qt && !same_program(text.pid, text.program, file_locked))
        return Holder::stale;
    return Holder::running;
}

// Reads at most max_lock_size bytes of the regular file at `path`, never
// following a link nor waiting on a device or pipe put in its place; returns
// nothing when it did, otherwise what the file is. `file_locked`: a process
// holds a file lock on it, as Qt's holder does.
std::optional<DeviceLock::Holder> read_lock_bytes(const QString& path, QByteArray* bytes, bool* file_locked)
{
    struct stat seen { };
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &seen) != 0)
        return DeviceLock::Holder::none;
    if (!S_ISREG(seen.st_mode))
        return DeviceLock::Holder::suspicious;
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP ? DeviceLock::Holder::suspicious : DeviceLock::Holder::unknown;
    struct stat opened { };
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return DeviceLock::Holder::suspicious;
    }
    bytes->resize(max_lock_size);
    ssize_t size = 0;
    do
        size = ::read(fd, bytes->data(), static_cast<std::size_t>(max_lock_size));
    while (size < 0 && errno == EINTR);
    bytes->resize(std::max<ssize_t>(size, 0));
    *file_locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return std::nullopt;
}

DeviceLock read_lock_file(const QString& path)
{
    DeviceLock lock;
    lock.path = path;
    if (path.isEmpty())
        return lock;
    const QFileInfo file(path);
    const QString folder = QFileInfo(file.path()).canonicalFilePath();
    lock.shown_path = folder.isEmpty() ? path : folder + QLatin1Char('/') + file.fileName();
    QByteArray bytes;
    bool file_locked = false;
    if (const auto found = read_lock_bytes(path, &bytes, &file_locked)) {
        lock.holder = *found;
        return lock;
    }
    const LockText text = parse_lock(bytes);
    lock.pid = text.pid;
    lock.holder = judge(text, file_locked);
    const QByteArray running = lock.holder == DeviceLock::Holder::running ? process_name(text.pid) : QByteArray();
    lock.program = QString::fromUtf8(running.isEmpty() ? text.program : running);
    qCDebug(lc_port).noquote() << "lock file" << path << "names process" << lock.pid << lock.program << "judged"
                               << static_cast<int>(lock.holder);
    return lock;
}

}  // namespace

DeviceLock read_device_lock(const QString& device) { return read_lock_file(lock_file_path(device)); }

bool remove_stale_lock(const DeviceLock& lock)
{
    if (lock.holder != DeviceLock::Holder::stale)
        return false;
    QLockFile removal(lock.path + QStringLiteral(".rmlock"));
    if (!removal.tryLock(0))
        return false;
    const DeviceLock now = read_lock_file(lock.path);
    if (now.holder != DeviceLock::Holder::stale || now.pid != lock.pid)
        return false;
    const bool removed = QLockFile(lock.path).removeStaleLockFile();
    qCDebug(lc_port).noquote() << "stale lock file" << lock.path << (removed ? "removed" : "cannot be removed");
    return removed;
}

OpenFailure lock_failure(const QString& device, const DeviceLock& lock, const QString& words)
{
    switch (lock.holder) {
    case DeviceLock::Holder::running:
        return {OpenFailure::Reason::in_use, device, words, lock.shown_path, lock.program, lock.pid};
    case DeviceLock::Holder::stale:
        return {OpenFailure::Reason::stale_lock, device, words, lock.shown_path, lock.program, lock.pid};
    case DeviceLock::Holder::suspicious:
        return {OpenFailure::Reason::suspicious_lock, device, words, lock.shown_path};
    case DeviceLock::Holder::unknown:
        return {OpenFailure::Reason::in_use, device, words, lock.shown_path};
    case DeviceLock::Holder::none:
        break;
    }
    return {OpenFailure::Reason::in_use, device, words};
}

}  // namespace pondara
