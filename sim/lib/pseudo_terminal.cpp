#include "pseudo_terminal.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace pondara::sim {

namespace {

bool fail(QString* error, const char* what)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool set_raw_9600_8n1(int fd)
{
    termios settings {};
    if (::tcgetattr(fd, &settings) != 0)
        return false;
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CSIZE);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, B9600);
    ::cfsetospeed(&settings, B9600);
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

PseudoTerminal::PseudoTerminal(QObject* parent) : QObject(parent) { }

PseudoTerminal::~PseudoTerminal() { close(); }

bool PseudoTerminal::open(QString* error, Reading reading)
{
    close();
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!master.valid())
        return fail(error, "cannot open a pseudo-terminal");
    if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0)
        return fail(error, "cannot unlock the pseudo-terminal");
    char name[128] = {};
    if (::ptsname_r(master.get(), name, sizeof name) != 0)
        return fail(error, "cannot name the pseudo-terminal");
    UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave.valid())
        return fail(error, "cannot open the pseudo-terminal's device");
    if (!set_raw_9600_8n1(slave.get()))
        return fail(error, "cannot set the pseudo-terminal to raw mode");
    m_fd = std::move(master);
    m_slave = std::move(slave);
    m_device_path = QString::fromLocal8Bit(name);
    if (reading == Reading::on_event_loop) {
        m_reader = new QSocketNotifier(m_fd.get(), QSocketNotifier::Read, this);
        connect(m_reader, &QSocketNotifier::activated, this, &PseudoTerminal::read_available);
    }
    return true;
}

bool PseudoTerminal::open_device(const QString& path, QString* error)
{
    close();
    UniqueFd device(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!device.valid())
        return fail(error, "cannot open the device");
    if (!set_raw_9600_8n1(device.get()))
        return fail(error, "cannot set the device to raw mode");
    m_fd = std::move(device);
    m_device_path = path;
    m_reader = new QSocketNotifier(m_fd.get(), QSocketNotifier::Read, this);
    connect(m_reader, &QSocketNotifier::activated, this, &PseudoTerminal::read_available);
    return true;
}

void PseudoTerminal::close()
{
    if (m_reader) {
        // Possibly called from the notifier's own signal: delete it later.
        m_reader->setEnabled(false);
        m_reader->deleteLater();
        m_reader = nullptr;
    }
    m_fd.reset();
    m_slave.reset();
    m_device_path.clear();
}

bool PseudoTerminal::write(const QByteArray& bytes)
{
    qsizetype written = 0;
    while (m_fd.valid() && written < bytes.size()) {
        const ssize_t count
            = ::write(m_fd.get(), bytes.constData() + written, static_cast<std::size_t>(bytes.size() - written));
        if (count > 0)
            written += count;
        else if (!(count < 0 && errno == EINTR))
            break;  // nobody is reading and the line is full, or it is gone
    }
    return written == bytes.size();
}

void PseudoTerminal::read_available()
{
    QByteArray bytes;
    bool gone = false;
    char buffer[256];
    for (;;) {
        const ssize_t count = ::read(m_fd.get(), buffer, sizeof buffer);
        if (count > 0) {
            bytes.append(buffer, count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        // End of file or an error other than "nothing more now" (EIO once
        // the other end has closed): the line is broken for good, so stop
        // the notifier firing on it.
        gone = count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    if (gone)
        m_reader->setEnabled(false);
    // Whoever takes the bytes may close this end or even delete it.
    const QPointer<PseudoTerminal> alive(this);
    if (!bytes.isEmpty())
        emit received(bytes);
    if (gone && alive && is_open())
        emit hung_up();
}

}  // namespace pondara::sim
