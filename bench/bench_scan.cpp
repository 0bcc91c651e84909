// pondara-bench-scan: the module scan of one port, addresses 0..255, with
// modules at 1 and 200 and an answer wait of 50 ms, through the scan window
// on the real port factory (offscreen).
//
// A thread plays the bus on the pseudo-terminal's master side: it answers
// the read-AD requests for addresses 1 and 200, the first 7 bytes at once and
// the 8th one byte time later, taking the time (CLOCK_MONOTONIC) just before
// it writes the 8th. Other addresses get nothing.
//
// Prints "name value" lines: the scan's total time against the physical
// limit of the port, 256 x (8.33 ms request + W) + 2 x 8.33 ms replies, and
// the time from each reply's last byte to its row in the result table.
// Option: --runs N (scans, default 1).

#include "bench_clock.h"
#include "bench_stats.h"

#include "platform/virtual_port.h"
#include "port_link.h"
#include "protocol/packet.h"
#include "pseudo_terminal.h"
#include "scan/scan_window.h"
#include "serial/port_factory.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace pondara;
using bench::now_ns;

constexpr std::int64_t byte_time_ns = 1'041'667;  // 10 bits at 9600 baud
constexpr int wait_ms = 50;
constexpr std::array<std::uint8_t, 2> module_addresses {1, 200};

// The bus, on its own thread: the time each module's last reply byte went
// out, by address.
class Bus {
public:
    explicit Bus(int master) : m_master(master), m_thread([this] { play(); }) { }
    ~Bus()
    {
        m_stop = true;
        m_thread.join();
    }
    std::int64_t written(std::uint8_t address) const { return m_written[address].load(); }

private:
    void play()
    {
        std::vector<std::uint8_t> pending;
        while (!m_stop) {
            pollfd fd {m_master, POLLIN, 0};
            if (::poll(&fd, 1, 50) <= 0)
                continue;
            std::uint8_t buffer[256];
            const ssize_t count = ::read(m_master, buffer, sizeof buffer);
            if (count <= 0)
                continue;
            pending.insert(pending.end(), buffer, buffer + count);
            while (pending.size() >= 8) {
                Packet request {};
                std::copy_n(pending.begin(), 8, request.begin());
                pending.erase(pending.begin(), pending.begin() + 8);
                if (std::find(module_addresses.begin(), module_addresses.end(), request[1]) != module_addresses.end())
                    answer(request);
            }
        }
    }

    void answer(const Packet& request)
    {
        const Packet reply = build_reply(request[1], request[2], 0x080000 + request[1]);
        send(reply.data(), 7);
        std::this_thread::sleep_for(std::chrono::nanoseconds(byte_time_ns));
        m_written[request[1]] = now_ns();
        send(reply.data() + 7, 1);
    }

    void send(const std::uint8_t* bytes, std::size_t size)
    {
        while (size > 0) {
            const ssize_t count = ::write(m_master, bytes, size);
            if (count > 0) {
                bytes += count;
                size -= static_cast<std::size_t>(count);
            } else if (count < 0 && errno != EINTR && errno != EAGAIN) {
                return;
            }
        }
    }

    int m_master;
    std::array<std::atomic<std::int64_t>, 256> m_written {};
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

struct Figures {
    double total_ms = 0;
    std::vector<double> row_ms;
    int rows = 0;
};

// One scan of port 1 through the window, timed from 开始 to its end.
Figures scan_once(const Bus& bus)
{
    ScanHost host;
    host.port_text = [] { return QStringLiteral("1"); };
    ScanWindow window(host, make_port_factory());
    window.findChild<QLineEdit*>(QStringLiteral("wait"))->setText(QString::number(wait_ms));
    Figures figures;
    // Connected after the window's own slot, so the row is in the table.
    QObject::connect(&window.scan(), &ModuleScan::found, &window, [&](const ScanFind& find) {
        const std::int64_t time = now_ns();
        figures.row_ms.push_back(static_cast<double>(time - bus.written(static_cast<std::uint8_t>(find.address)))
                                 / 1e6);
    });
    bool done = false;
    QObject::connect(&window.scan(), &ModuleScan::finished, &window, [&] {
        done = true;
        QCoreApplication::exit(0);
    });
    const std::int64_t start = now_ns();
    window.start_Click();
    if (!done)
        QApplication::exec();
    figures.total_ms = static_cast<double>(now_ns() - start) / 1e6;
    figures.rows = static_cast<int>(figures.row_ms.size());
    return figures;
}

int runs_option(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    }
    return 1;
}

}  // namespace

int main(int argc, char* argv[])
{
    const int runs = runs_option(argc, argv);
    // A private runtime folder, so that port 1 here is this run's pty.
    char runtime_dir[] = "/tmp/pondara-bench-scan-XXXXXX";
    if (!::mkdtemp(runtime_dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    ::setenv("XDG_RUNTIME_DIR", runtime_dir, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    QString error;
    sim::PseudoTerminal pty;
    auto link = std::make_unique<sim::PortLink>(virtual_port_link(1));
    if (!pty.open(&error, sim::PseudoTerminal::Reading::by_caller) || !link->publish(pty.device_path(), &error)) {
        std::fprintf(stderr, "pondara-bench-scan: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<double> totals;
    std::vector<double> rows;
    {
        const Bus bus(pty.fd());
        for (int run = 0; run < runs; ++run) {
            const Figures figures = scan_once(bus);
            if (figures.rows != static_cast<int>(module_addresses.size())) {
                std::fprintf(stderr, "pondara-bench-scan: found %d modules, not 2\n", figures.rows);
                return 1;
            }
            totals.push_back(figures.total_ms);
            rows.insert(rows.end(), figures.row_ms.begin(), figures.row_ms.end());
        }
    }
    std::printf("scan_total_ms %.1f\n", bench::median(totals));
    std::printf("scan_total_min_ms %.1f\n", *std::min_element(totals.begin(), totals.end()));
    std::printf("scan_total_max_ms %.1f\n", *std::max_element(totals.begin(), totals.end()));
    std::printf("scan_limit_ms %.1f\n", 256 * (ModuleScan::request_ms + wait_ms) + 2 * ModuleScan::request_ms);
    std::printf("row_median_ms %.3f\n", bench::median(rows));
    std::printf("row_min_ms %.3f\n", *std::min_element(rows.begin(), rows.end()));
    std::printf("row_max_ms %.3f\n", *std::max_element(rows.begin(), rows.end()));
    link.reset();
    ::rmdir((std::string(runtime_dir) + "/pondara").c_str());
    ::rmdir(runtime_dir);
    return 0;
}
