// pondara-bench-latency: reply latency of the main window against a bare
// QSerialPort, on the same pseudo-terminal in the same run.
//
// A child process plays the module on the pty's master side. It answers each
// read-AD request with a new value: the first 7 bytes at once, the 8th one
// byte time later, and it takes the time (CLOCK_MONOTONIC) just before it
// writes that 8th byte. It answers read-weight requests at once, unmeasured.
//
// This process holds three hosts and takes turns between them in blocks, so
// that noise from the rest of the machine falls on all alike:
//   program   the real MainForm on the real port factory (offscreen),
//             opened with its own open button on port 1; each exchange is
//             one call of poll_tick() (the window's Timer1 is stopped), and
//             it ends when the AD_now readout's textChanged arrives;
//   baseline  a bare QSerialPort on the same pty whose readyRead slot reads
//             the 8 bytes and takes the time;
//   same window  the same-window baseline (same_window.h): the main window
//             built plainly with a bare QSerialPort, driven like the program
//             (one tick() per exchange, its timer stopped), ending when its
//             AD_now readout's textChanged arrives.
// The latency is that time minus the module's; the reply value pairs them.
//
// Options: --exchanges N (read-AD exchanges per host, default 2000),
// --block N (exchanges per block, default 100), --gap MS (pause between
// exchanges, default 2), --breakdown (also the part of each latency spent
// in the host after its socket notifier fired). Prints "name value" lines.

#include "bench_clock.h"
#include "bench_stats.h"
#include "same_window.h"

#include "main_window/main_form.h"
#include "platform/virtual_port.h"
#include "port_link.h"
#include "protocol/packet.h"
#include "pseudo_terminal.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "ui/box_message_sink.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace pondara;
using bench::now_ns;

constexpr std::int64_t byte_time_ns = 1'041'667;  // 10 bits at 9600 baud

void write_all(int fd, const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, bytes, size);
        if (count > 0) {
            bytes += count;
            size -= static_cast<std::size_t>(count);
        } else if (count < 0 && errno != EINTR && errno != EAGAIN) {
            ::_exit(3);
        }
    }
}

void sleep_until(std::int64_t when_ns)
{
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(when_ns)));
}

// The module, in the child process: plain system calls, no Qt. `written`
// (shared with the parent) receives, for each AD value, the time its 8th
// byte was written.
[[noreturn]] void play_module(int master, std::int64_t* written, std::size_t capacity)
{
    std::uint32_t next_value = 1;
    std::uint32_t weight = 0;
    std::vector<std::uint8_t> pending;
    for (;;) {
        pollfd fd {master, POLLIN, 0};
        if (::poll(&fd, 1, -1) < 0 && errno != EINTR)
            ::_exit(2);
        std::uint8_t buffer[256];
        const ssize_t count = ::read(master, buffer, sizeof buffer);
        if (count <= 0) {
            if (count < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            ::_exit(0);
        }
        pending.insert(pending.end(), buffer, buffer + count);
        while (pending.size() >= 8) {
            Packet request {};
            std::copy_n(pending.begin(), 8, request.begin());
            if (!request_ok(request)) {
                pending.erase(pending.begin());
                continue;
            }
            pending.erase(pending.begin(), pending.begin() + 8);
            if (request[2] == static_cast<std::uint8_t>(Leixing::read_ad)) {
                const std::uint32_t value = next_value++;
                const Packet reply = build_reply(request[1], request[2], value);
                write_all(master, reply.data(), 7);
                sleep_until(now_ns() + byte_time_ns);
                // Stored before the write, so that the host can never have
                // the reply before its time is there.
                if (value < capacity)
                    written[value] = now_ns();
                write_all(master, reply.data() + 7, 1);
            } else {
                weight = (weight + 1) & max_value;
                const Packet reply = build_reply(request[1], request[2], weight);
                write_all(master, reply.data(), reply.size());
            }
        }
    }
}

// With --breakdown: the time of the latest socket notifier activation, so
// that each latency splits into the wake-up (module's write to the
// notifier) and the host's own work (notifier to readout).
class SockActStamp : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::SockAct)
            last = now_ns();
        return QObject::eventFilter(watched, event);
    }
    std::int64_t last = 0;
};

class Exchanges : public QObject {
public:
    enum Side : int { program = 0, baseline = 1, same_window = 2 };
    static constexpr int sides = 3;

    Exchanges(MainForm& form, const PortObject& port, bench::SameWindow& same, QString device, int per_side, int block,
              int gap_ms, std::size_t capacity, const SockActStamp* sockact)
        : m_form(form),
          m_port(port),
          m_same(same),
          m_device(std::move(device)),
          m_per_side(per_side),
          m_block(block),
          m_gap_ms(gap_ms),
          m_seen(capacity, 0),
          m_notified(capacity, 0),
          m_side(capacity, -1),
          m_sockact(sockact)
    {
        watch_readouts();
        set_up_bare_port();
        m_watchdog.setSingleShot(true);
        m_watchdog.setInterval(1000);
        connect(&m_watchdog, &QTimer::timeout, this, [this] {
            if (++m_timeouts > 20)
                fail("too many exchanges without a reply");
            step();
        });
    }

    void start() { begin_block(); }

    // Module's write to readout; with `from_notifier`, notifier to readout.
    std::vector<double> latencies_ms(Side side, const std::int64_t* written, bool from_notifier = false) const
    {
        std::vector<double> result;
        for (std::size_t value = 1; value < m_seen.size(); ++value) {
            const std::int64_t start = from_notifier ? m_notified[value] : written[value];
            if (m_side[value] == side && m_seen[value] > 0 && written[value] > 0 && start > 0)
                result.push_back(static_cast<double>(m_seen[value] - start) / 1e6);
        }
        return result;
    }
    int timeouts() const { return m_timeouts; }

private:
    [[noreturn]] static void fail(const char* why)
    {
        std::fprintf(stderr, "pondara-bench-latency: %s\n", why);
        std::exit(1);
    }

    // An AD readout's change ends the exchange of its host; a weight
    // exchange is part of a window's polling cycle: it is let through
    // unmeasured, and the next AD request follows it.
    void watch_readouts()
    {
        auto* ad_now = m_form.findChild<QLineEdit*>(QStringLiteral("AD_now"));
        auto* weight_now = m_form.findChild<QLineEdit*>(QStringLiteral("weight_now"));
        if (!ad_now || !weight_now)
            fail("the main window has no AD_now or weight_now box");
        connect(ad_now, &QLineEdit::textChanged, this, [this](const QString& text) {
            const std::int64_t time = now_ns();
            record(text.toUInt(), time, program);
        });
        connect(weight_now, &QLineEdit::textChanged, this, [this] { next_after_gap(); });
        connect(m_same.ad_now, &QLineEdit::textChanged, this, [this](const QString& text) {
            const std::int64_t time = now_ns();
            record(text.toUInt(), time, same_window);
        });
        connect(m_same.weight_now, &QLineEdit::textChanged, this, [this] { next_after_gap(); });
    }

    // The bare QSerialPort at 9600 8N1: its exchange ends when 8 bytes that
    // pass the reply test have arrived.
    void set_up_bare_port()
    {
        m_bare.setBaudRate(QSerialPort::Baud9600);
        m_bare.setDataBits(QSerialPort::Data8);
        m_bare.setParity(QSerialPort::NoParity);
        m_bare.setStopBits(QSerialPort::OneStop);
        m_bare.setFlowControl(QSerialPort::NoFlowControl);
        connect(&m_bare, &QSerialPort::readyRead, this, [this] {
            if (m_bare.bytesAvailable() < 8)
                return;
            char reply[8];
            m_bare.read(reply, sizeof reply);
            const std::int64_t time = now_ns();
            RxBuf rx {};
            for (std::size_t i = 0; i < 8; ++i)
                rx[i] = static_cast<std::uint8_t>(reply[i]);
            if (reply_ok(rx))
                record(reply_value(rx), time, baseline);
        });
    }

    void begin_block()
    {
        m_in_block = 0;
        if (m_current == program) {
            if (!m_port.portOpen())
                m_form.open_comm_Click();
            if (!m_port.portOpen())
                fail("the main window could not open port 1");
        } else if (m_current == baseline) {
            m_bare.setPortName(m_device);
            if (!m_bare.open(QIODevice::ReadWrite))
                fail("the bare QSerialPort could not open the pty");
        } else {
            if (!m_same.open(m_device))
                fail("the same window could not open the pty");
        }
        next_after_gap();
    }

    void end_block()
    {
        if (m_current == program) {
            if (m_port.portOpen())
                m_form.open_comm_Click();  // the same button closes it
        } else if (m_current == baseline) {
            m_bare.close();
        } else {
            m_same.port.close();
        }
    }

    void step()
    {
        m_watchdog.start();
        if (m_current == program) {
            m_form.poll_tick();
        } else if (m_current == same_window) {
            m_same.tick();
        } else {
            const Packet request = build_request(1, make_command(Leixing::read_ad));
            m_bare.write(reinterpret_cast<const char*>(request.data()), request.size());
            m_bare.flush();
        }
    }

    void next_after_gap()
    {
        m_watchdog.stop();
        QTimer::singleShot(m_gap_ms, this, [this] { step(); });
    }

    void record(std::uint32_t value, std::int64_t time, Side side)
    {
        if (side != m_current || value == 0 || value >= m_seen.size())
            return;
        m_watchdog.stop();
        m_seen[value] = time;
        m_side[value] = side;
        if (m_sockact)
            m_notified[value] = m_sockact->last;
        ++m_done[side];
        if (++m_in_block < m_block && m_done[side] < m_per_side) {
            next_after_gap();
            return;
        }
        // The port is closed from the event loop, not from inside its own
        // notification.
        QTimer::singleShot(0, this, [this] { switch_block(); });
    }

    void switch_block()
    {
        end_block();
        // The next side in turn that still has exchanges to make.
        for (int turn = 1; turn <= sides; ++turn) {
            const auto next = static_cast<Side>((m_current + turn) % sides);
            if (m_done[next] < m_per_side) {
                m_current = next;
                begin_block();
                return;
            }
        }
        QCoreApplication::quit();
    }

    MainForm& m_form;
    const PortObject& m_port;  // the main window's
    bench::SameWindow& m_same;
    QSerialPort m_bare;
    QString m_device;
    const int m_per_side;
    const int m_block;
    const int m_gap_ms;
    std::vector<std::int64_t> m_seen;  // by AD value: when the host had it
    std::vector<std::int64_t> m_notified;  // by AD value: the notifier activation before it
    std::vector<int> m_side;  // by AD value: which host asked
    const SockActStamp* m_sockact;
    int m_done[sides] = {0, 0, 0};
    int m_in_block = 0;
    int m_timeouts = 0;
    Side m_current = program;
    QTimer m_watchdog;
};

int int_option(int argc, char** argv, const char* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    }
    return fallback;
}

struct Options {
    int per_side = 2000;
    int block = 100;
    int gap_ms = 2;
    bool breakdown = false;
};

Options read_options(int argc, char** argv)
{
    Options options;
    options.per_side = int_option(argc, argv, "--exchanges", options.per_side);
    options.block = int_option(argc, argv, "--block", options.block);
    options.gap_ms = int_option(argc, argv, "--gap", options.gap_ms);
    for (int i = 1; i < argc; ++i)
        options.breakdown = options.breakdown || std::strcmp(argv[i], "--breakdown") == 0;
    return options;
}

void print_side(const char* name, std::vector<double> latencies)
{
    std::printf("%s_count %zu\n", name, latencies.size());
    std::printf("%s_median_ms %.4f\n", name, bench::median(latencies));
    std::printf("%s_p99_ms %.4f\n", name, bench::quantile(latencies, 0.99));
    std::printf("%s_min_ms %.4f\n", name,
                latencies.empty() ? 0.0 : *std::min_element(latencies.begin(), latencies.end()));
    std::printf("%s_max_ms %.4f\n", name, bench::quantile(latencies, 1.0));
}

void print_results(const Exchanges& exchanges, const std::int64_t* written, bool breakdown)
{
    print_side("program", exchanges.latencies_ms(Exchanges::program, written));
    print_side("baseline", exchanges.latencies_ms(Exchanges::baseline, written));
    print_side("same_window", exchanges.latencies_ms(Exchanges::same_window, written));
    if (breakdown) {
        print_side("program_in_host", exchanges.latencies_ms(Exchanges::program, written, true));
        print_side("baseline_in_host", exchanges.latencies_ms(Exchanges::baseline, written, true));
        print_side("same_window_in_host", exchanges.latencies_ms(Exchanges::same_window, written, true));
    }
    std::printf("timeouts %d\n", exchanges.timeouts());
    std::fflush(stdout);
}

// The module's end of the line: the pty published as virtual port 1, and
// the child process that plays the module on it.
struct ModuleEnd {
    sim::PseudoTerminal pty;
    std::unique_ptr<sim::PortLink> link;
    std::int64_t* written = nullptr;  // shared with the child: by AD value, when its 8th byte went
    std::size_t capacity = 0;
    pid_t child = -1;
};

// Opens and publishes the pty, maps the shared times and starts the module
// process; false (with the reason on standard error) when any of it fails.
bool start_module(ModuleEnd& module, std::size_t capacity)
{
    QString error;
    if (!module.pty.open(&error, sim::PseudoTerminal::Reading::by_caller)) {
        std::fprintf(stderr, "pondara-bench-latency: %s\n", qPrintable(error));
        return false;
    }
    module.link = std::make_unique<sim::PortLink>(virtual_port_link(1));
    if (!module.link->publish(module.pty.device_path(), &error)) {
        std::fprintf(stderr, "pondara-bench-latency: %s\n", qPrintable(error));
        return false;
    }
    void* shared
        = ::mmap(nullptr, capacity * sizeof(std::int64_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        std::perror("mmap");
        return false;
    }
    module.written = static_cast<std::int64_t*>(shared);
    module.capacity = capacity;
    const pid_t parent = ::getpid();
    module.child = ::fork();
    if (module.child < 0) {
        std::perror("fork");
        return false;
    }
    if (module.child == 0) {
        // The module goes with this process, however it ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(0);
        play_module(module.pty.fd(), module.written, capacity);
    }
    return true;
}

void stop_module(ModuleEnd& module)
{
    ::kill(module.child, SIGTERM);
    ::waitpid(module.child, nullptr, 0);
    module.link.reset();
    module.pty.close();
}

// The three hosts in turn against the module, then their figures on
// standard output; returns the event loop's exit code, or 1.
int run_hosts(QApplication& app, const Options& options, const ModuleEnd& module)
{
    BoxMessageSink messages;
    const PortObject* port = nullptr;  // the main window's, kept for the exchanges
    const auto make_port = [&port] {
        std::unique_ptr<PortObject> made = make_port_factory()();
        port = made.get();
        return made;
    };
    MainForm form(make_port, messages, [] { return PortResolver().mapping(); });
    form.show();
    // The exchanges call poll_tick() themselves.
    auto* timer1 = form.findChild<QTimer*>(QStringLiteral("Timer1"));
    if (!timer1) {
        std::fputs("pondara-bench-latency: the main window has no Timer1\n", stderr);
        return 1;
    }
    timer1->stop();
    bench::SameWindow same;
    same.timer1.stop();
    same.show();

    SockActStamp sockact;
    if (options.breakdown)
        app.installEventFilter(&sockact);
    Exchanges exchanges(form, *port, same, module.pty.device_path(), options.per_side, options.block, options.gap_ms,
                        module.capacity, options.breakdown ? &sockact : nullptr);
    QTimer::singleShot(0, &exchanges, [&exchanges] { exchanges.start(); });
    const int status = QApplication::exec();
    print_results(exchanges, module.written, options.breakdown);
    return status;
}

}  // namespace

int main(int argc, char* argv[])
{
    const Options options = read_options(argc, argv);

    // A private runtime folder, so that port 1 here is this run's pty and
    // no one else's.
    char runtime_dir[] = "/tmp/pondara-bench-latency-XXXXXX";
    if (!::mkdtemp(runtime_dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    ::setenv("XDG_RUNTIME_DIR", runtime_dir, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    ModuleEnd module;
    // Room for every AD value any host can get, with the retries.
    if (!start_module(module, static_cast<std::size_t>(options.per_side) * Exchanges::sides + 64))
        return 1;
    int status = 0;
    {
        QApplication app(argc, argv);
        status = run_hosts(app, options, module);
    }
    stop_module(module);
    ::rmdir((std::string(runtime_dir) + "/pondara").c_str());
    ::rmdir(runtime_dir);
    return status;
}
