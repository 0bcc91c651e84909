#include "platform/signal_pipe.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace pondara {

namespace {

// Read by the handler: plain int, set before any handler is installed.
volatile sig_atomic_t g_write_fd = -1;

extern "C" void write_signal_number(int signal_number)
{
    const int saved_errno = errno;
    const auto byte = static_cast<unsigned char>(signal_number);
    [[maybe_unused]] const ssize_t ignored = ::write(g_write_fd, &byte, 1);
    errno = saved_errno;
}

void set_handler(int signal_number, void (*handler)(int), bool* ok)
{
    struct sigaction action { };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(signal_number, &action, nullptr) != 0)
        *ok = false;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signal_numbers, QObject* parent)
    : QObject(parent),
      m_signal_numbers(signal_numbers)
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_read_end = ends[0];
    m_write_end = ends[1];
    g_write_fd = m_write_end;
    m_notifier = new QSocketNotifier(m_read_end, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalPipe::drain);

    m_ok = true;
    for (const int number : m_signal_numbers)
        set_handler(number, write_signal_number, &m_ok);
}

SignalPipe::~SignalPipe()
{
    if (m_read_end < 0)
        return;
    bool restored = true;
    for (const int number : m_signal_numbers)
        set_handler(number, SIG_DFL, &restored);
    g_write_fd = -1;
    m_notifier->setEnabled(false);
    ::close(m_write_end);
    ::close(m_read_end);
}

void SignalPipe::drain()
{
    unsigned char numbers[16];
    for (;;) {
        const ssize_t count = ::read(m_read_end, numbers, sizeof numbers);
        if (count <= 0)
            break;
        for (ssize_t i = 0; i < count; ++i)
            emit received(numbers[i]);
    }
}

}  // namespace pondara
