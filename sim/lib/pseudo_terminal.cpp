#include "pseudo_terminal.h"

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
    termios settings{};
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

bool PseudoTerminal::open(QString* error)
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
    m_master = std::move(master);
    m_slave = std::move(slave);
    m_slave_path = QString::fromLocal8Bit(name);
    return true;
}

void PseudoTerminal::close()
{
    m_master.reset();
    m_slave.reset();
    m_slave_path.clear();
}

}  // namespace pondara::sim
