#include "platform/signal_pipe.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
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

// Installs `handler` for `signal_number` unless the signal is ignored now;
// returns what was there, or nothing when the signal was left alone or
// sigaction failed (then *ok is false).
std::optional<struct sigaction> catch_signal(int signal_number, void (*handler)(int), bool* ok)
{
    struct sigaction previous { };
    if (::sigaction(signal_number, nullptr, &previous) != 0) {
        *ok = false;
        return std::nullopt;
    }
    if (previous.sa_handler == SIG_IGN)
        return std::nullopt;
    struct sigaction action { };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(signal_number, &action, nullptr) != 0) {
        *ok = false;
        return std::nullopt;
    }
    return previous;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signal_numbers, QObject* parent) : QObject(parent)
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
    for (const int number : signal_numbers) {
        if (const auto previous = catch_signal(number, write_signal_number, &m_ok))
            m_replaced.push_back({number, *previous});
    }
}

SignalPipe::~SignalPipe()
{
    if (m_read_end < 0)
        return;
    for (const Replaced& replaced : m_replaced)
        ::sigaction(replaced.signal_number, &replaced.previous, nullptr);
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
