// pondara-bench: runs every benchmark of the program against its baselines
// and prints one table.
//
//   1. reply latency        pondara-bench-latency (MainForm, bare QSerialPort,
//                           same window)
//   2. polling cadence      request arrival times at the module side
//   3. CPU while polling    on-CPU time of each process over the window, run
//                           three times: the median and the spread
//   4. memory               VmHWM (peak resident set) after the windows
//   5. start-up             exec to first painted window, median of runs
//   6. after unplugging     CPU in the 5 s after the line is closed
//   7. wake-ups per request the UI thread's returns from poll()/ppoll() over
//                           a window, counted by strace, per request sent
//   8. trend window         CPU while polling with the trend window open
//                           (10-minute span) against the same program
//                           without it, side by side in a window of their own
//   9. module scan          pondara-bench-scan: the scan of 256 addresses
//                           against the port's physical limit, and each
//                           reply's time to its row
//  10. recording            CPU while polling and recording against the same
//                           program polling without it, side by side, and the
//                           recording's growth per hour
//
// Two baselines stand beside the program. The same-window baseline
// (pondara-bench-same-window, same_window.h) is the main window built
// plainly with a bare QSerialPort: the least any program showing this window
// must do, and the one the targets hold the program against. The minimal
// ones do less than that: a bare QSerialPort read (latency), an empty window
// whose timer writes 8 bytes (pondara-bench-minimal: cadence, CPU, memory,
// start-up, wake-ups) and a QSerialPort poller that ignores errors
// (pondara-bench-naive: after unplugging).
//
// 2, 3, 4 and 7 share one stretch in which the program (pondara-bench-app:
// the program's own start-up, then the open button pressed) and the same
// window each poll a simulated line and the minimal program writes to a
// third, side by side.
// Every child runs with the offscreen platform and a private runtime folder,
// so the virtual ports are this run's own.
//
// Options: --long (or BENCH_LONG=1 in the environment) makes each of the
// three CPU windows 600 s, the latency run 10000 exchanges per host, the
// start-up 45 runs and the wake-up window 60 s; --window S, --exchanges N,
// --startups N and --wakeups S set them one by one. --only unplug measures
// figure 6 alone, after polling for 5 s, and prints its row, so that it can
// be measured on other releases too (make bench-debian13); it needs only
// the app, the same window, the minimal program and the naive poller
// (target pondara-bench-unplug).
//
// Figure 6 is labelled with the release it was measured on (/etc/os-release),
// as the way a hung-up line shows differs between Qt versions.

#include "bench_children.h"
#include "bench_clock.h"
#include "bench_line.h"
#include "bench_stats.h"
#include "bench_table.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace pondara;
using namespace pondara::bench;

struct Options {
    int window_s = 60;
    int exchanges = 2000;
    int startups = 15;
    int unplug_s = 5;
    int wakeup_s = 10;
    bool only_unplug = false;
};

constexpr int cpu_windows = 3;

// Unplugs `line` and returns the CPU the process at its other end uses in
// the next `seconds`, in percent of one core, with the spread of its
// one-second parts.
Spread cpu_share_after_unplug(pid_t pid, bench::BenchLine& line, int seconds)
{
    std::vector<double> parts;
    const double cpu_before = cpu_seconds(pid);
    const std::int64_t unplugged = now_ns();
    line.unplug();
    double cpu_last = cpu_before;
    std::int64_t last = unplugged;
    for (int second = 0; second < seconds; ++second) {
        run_for(1000);
        const double cpu = cpu_seconds(pid);
        const std::int64_t now = now_ns();
        parts.push_back((cpu - cpu_last) / (static_cast<double>(now - last) / 1e9) * 100.0);
        cpu_last = cpu;
        last = now;
    }
    const double elapsed = static_cast<double>(now_ns() - unplugged) / 1e9;
    return spread_of(parts, (cpu_seconds(pid) - cpu_before) / elapsed * 100.0);
}

// Cadence from request arrival times.
struct Cadence {
    double per_second = 0.0;
    double mean_interval_ms = 0.0;
    double p99_deviation_ms = 0.0;
    std::size_t requests = 0;
};

// The cadence of request arrivals taken in separate stretches: intervals are
// counted within a stretch only.
Cadence cadence(const std::vector<std::vector<std::int64_t>>& stretches)
{
    Cadence result;
    double span_ms = 0.0;
    std::vector<double> deviations;
    for (const std::vector<std::int64_t>& arrivals : stretches) {
        result.requests += arrivals.size();
        if (arrivals.size() < 2)
            continue;
        span_ms += static_cast<double>(arrivals.back() - arrivals.front()) / 1e6;
        for (std::size_t i = 1; i < arrivals.size(); ++i)
            deviations.push_back(std::fabs(static_cast<double>(arrivals[i] - arrivals[i - 1]) / 1e6 - 200.0));
    }
    if (deviations.empty())
        return result;
    const double intervals = static_cast<double>(deviations.size());
    result.mean_interval_ms = span_ms / intervals;
    result.per_second = intervals * 1000.0 / span_ms;
    result.p99_deviation_ms = bench::quantile(deviations, 0.99);
    return result;
}

// One polling process beside its line, over the CPU windows.
struct Poller {
    Child child;
    bench::BenchLine* line = nullptr;
    std::vector<double> cpu;  // seconds, per window
    std::vector<std::vector<std::int64_t>> arrivals;  // per window
    double rss = 0.0;
    double wakeups_per_request = not_measured;

    std::size_t requests() const
    {
        std::size_t count = 0;
        for (const std::vector<std::int64_t>& window : arrivals)
            count += window.size();
        return count;
    }

    // The spread of one cadence figure over the windows, around the figure
    // of all windows together.
    Spread cadence_spread(double Cadence::*figure) const
    {
        std::vector<double> samples;
        for (const std::vector<std::int64_t>& window : arrivals)
            samples.push_back(cadence({window}).*figure);
        return spread_of(samples, cadence(arrivals).*figure);
    }
};

// Two copies of the program, each polling a line of its own (ports
// `first_port` and the next), one as it is and one with `with(round)` added
// to its arguments, for `seconds` in all over four rounds. The copies swap
// roles from round to round, so that neither line nor copy leans the
// figure either way. `measure(round, true)` is called as a round's window
// starts and `measure(round, false)` as it ends. Returns the CPU seconds of
// each role: as it is, and with the arguments.
std::pair<double, double> side_by_side(int first_port, int seconds, const std::function<QStringList(int)>& with,
                                       const std::function<void(int, bool)>& measure = {})
{
    constexpr int rounds = 4;
    QString error;
    bench::BenchLine lines[2] {{first_port, true}, {first_port + 1, true}};
    if (!lines[0].start(&error) || !lines[1].start(&error))
        fail(error);
    const QString app = QStringLiteral("pondara-bench-app");
    double by_role[2] = {0, 0};  // as it is, with the arguments
    for (int round = 0; round < rounds; ++round) {
        const std::uint64_t sent_before[2] = {lines[0].requests(), lines[1].requests()};
        Child copies[2];
        for (int role = 0; role < 2; ++role) {
            const int port = first_port + (role + round) % 2;
            QStringList arguments {QStringLiteral("--open"), QStringLiteral("--port"), QString::number(port)};
            if (role == 1)
                arguments += with(round);
            copies[role] = spawn(app, arguments, false);
        }
        if (!run_until([&] { return lines[0].requests() > sent_before[0] && lines[1].requests() > sent_before[1]; },
                       15000))
            fail(QStringLiteral("a copy of the program sent no request"));
        run_for(2000);  // past the start-up and the loading of any module
        const double before[2] = {cpu_seconds(copies[0].pid), cpu_seconds(copies[1].pid)};
        if (measure)
            measure(round, true);
        run_for(seconds * 1000 / rounds);
        if (measure)
            measure(round, false);
        for (int role = 0; role < 2; ++role) {
            by_role[role] += cpu_seconds(copies[role].pid) - before[role];
            if (!running(copies[role]))
                fail(QStringLiteral("a copy of the program ended during its round"));
            terminate(copies[role]);
        }
    }
    return {by_role[0], by_role[1]};
}

// 8: the CPU seconds without and with the trend window open.
std::pair<double, double> trend_window_cpu(int seconds)
{
    return side_by_side(4, seconds, [](int) { return QStringList {QStringLiteral("--trend")}; });
}

// 10: the CPU seconds without and with recording into the log folder, one
// folder a round, and the recording's growth.
struct RecordingFigures {
    double plain_cpu = 0;
    double recording_cpu = 0;
    double mb_per_hour = 0;  // the file's growth, in 10^6 bytes
};

RecordingFigures recording_cpu(int seconds)
{
    const auto folder = [](int round) { return log_dir() + QStringLiteral("/recording/%1").arg(round); };
    const auto file_size = [&](int round) {
        const QFileInfoList files = QDir(folder(round)).entryInfoList({QStringLiteral("*.csv")}, QDir::Files);
        return files.size() == 1 ? static_cast<double>(files.first().size()) : not_measured;
    };
    double grown = 0;
    const auto [plain, recording] = side_by_side(
        6, seconds,
        [&](int round) {
            return QStringList {QStringLiteral("--record"), folder(round)};
        },
        [&](int round, bool starts) { grown += starts ? -file_size(round) : file_size(round); });
    return {plain, recording, grown * 3600.0 / seconds / 1e6};
}

QString read_text(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

QString load_average() { return read_text("/proc/loadavg").section(QLatin1Char(' '), 0, 2); }

// The release this runs on, as "Debian 12": the first word of NAME and
// VERSION_ID from /etc/os-release, or its PRETTY_NAME when it has no
// version (testing, unstable).
QString release_name()
{
    QMap<QString, QString> fields;
    for (const QString& line : read_text("/etc/os-release").split(QLatin1Char('\n'))) {
        QString value = line.section(QLatin1Char('='), 1).trimmed();
        if (value.size() >= 2 && (value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\''))))
            value = value.mid(1, value.size() - 2);
        fields.insert(line.section(QLatin1Char('='), 0, 0).trimmed(), value);
    }
    const QString name = fields.value(QStringLiteral("NAME")).section(QLatin1Char(' '), 0, 0);
    const QString version = fields.value(QStringLiteral("VERSION_ID"));
    if (name.isEmpty() || version.isEmpty())
        return fields.value(QStringLiteral("PRETTY_NAME"), QStringLiteral("unknown release"));
    return name + QLatin1Char(' ') + version;
}

QString machine_line()
{
    QString model;
    for (const QString& line : read_text("/proc/cpuinfo").split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("model name"))) {
            model = line.section(QLatin1Char(':'), 1).trimmed();
            break;
        }
    }
    double mem_gib = 0;
    for (const QString& line : read_text("/proc/meminfo").split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("MemTotal:")))
            mem_gib
                = line.section(QLatin1Char(':'), 1).trimmed().section(QLatin1Char(' '), 0, 0).toDouble() / 1048576.0;
    }
    utsname name {};
    ::uname(&name);
    return QStringLiteral(
               "%1, %2 cores, %3 GiB RAM, Linux %4, Debian %5, Qt %6, g++ %7 -O2 (Release), offscreen platform")
        .arg(model)
        .arg(::sysconf(_SC_NPROCESSORS_ONLN))
        .arg(mem_gib, 0, 'f', 0)
        .arg(QString::fromLatin1(name.release), read_text("/etc/debian_version").trimmed(),
             QString::fromLatin1(qVersion()), QStringLiteral(__VERSION__).section(QLatin1Char(' '), 0, 0));
}

int int_option(const QStringList& args, const QString& name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? std::max(1, args[at + 1].toInt()) : fallback;
}

// The options, or nothing (and a word why) for an --only the driver does
// not know.
std::optional<Options> read_options(const QStringList& args)
{
    Options options;
    const QByteArray long_env = qgetenv("BENCH_LONG");
    if (args.contains(QStringLiteral("--long")) || (!long_env.isEmpty() && long_env != "0")) {
        options.window_s = 600;
        options.exchanges = 10000;
        options.startups = 45;
        options.wakeup_s = 60;
    }
    options.window_s = int_option(args, QStringLiteral("--window"), options.window_s);
    options.exchanges = int_option(args, QStringLiteral("--exchanges"), options.exchanges);
    options.startups = int_option(args, QStringLiteral("--startups"), options.startups);
    options.wakeup_s = int_option(args, QStringLiteral("--wakeups"), options.wakeup_s);
    const qsizetype only = args.indexOf(QStringLiteral("--only"));
    if (only >= 0) {
        if (only + 1 >= args.size() || args[only + 1] != QLatin1String("unplug")) {
            std::fputs("pondara-bench: --only takes one figure: unplug\n", stderr);
            return std::nullopt;
        }
        options.only_unplug = true;
    }
    return options;
}

// strace, or nothing (and a word why) when it is not installed.
QString find_strace()
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        say(QStringLiteral("pondara-bench: no strace on PATH (scripts/install-deps installs it): "
                           "wake-ups per request are not measured"));
    return strace;
}

// 1: the latency run's "name value" lines, with figures for every host.
QMap<QString, double> measure_latency(const Options& options)
{
    say(QStringLiteral("[1/6] reply latency: %1 exchanges per host").arg(options.exchanges));
    Child latency_run = spawn(QStringLiteral("pondara-bench-latency"),
                              {QStringLiteral("--exchanges"), QString::number(options.exchanges)}, true);
    const QMap<QString, double> latency = parse_values(finish(latency_run));
    for (const char* side : {"program", "baseline", "same_window"}) {
        if (latency.value(QLatin1String(side) + QStringLiteral("_count")) < 1)
            fail(QStringLiteral("the latency run measured nothing for %1").arg(QLatin1String(side)));
    }
    return latency;
}

// The polling stretch of 2, 3, 4 and 7: the program, the same window and
// the minimal program, each polling a line of its own, side by side.
enum Which { program = 0, same = 1, minimal = 2 };
constexpr int pollers = 3;

struct PollingStretch {
    bench::BenchLine program_line {1, true};
    bench::BenchLine minimal_line {2, false};
    bench::BenchLine same_line {4, true};
    std::array<Poller, pollers> by_which;
    std::int64_t window_length_ns = 0;  // the CPU windows together

    bool all_polling()
    {
        return std::all_of(by_which.begin(), by_which.end(), [](Poller& p) { return running(p.child); });
    }
};

// Starts the three polling processes and waits until each has polled.
void spawn_pollers(PollingStretch& stretch)
{
    std::array<Poller, pollers>& by = stretch.by_which;
    std::array<std::uint64_t, pollers> before {};
    for (int which = 0; which < pollers; ++which)
        before[which] = by[which].line->requests();
    by[program].child = spawn(QStringLiteral("pondara-bench-app"), {QStringLiteral("--open")}, false);
    by[same].child = spawn(QStringLiteral("pondara-bench-same-window"),
                           {QStringLiteral("--pty"), stretch.same_line.device()}, false);
    by[minimal].child = spawn(QStringLiteral("pondara-bench-minimal"),
                              {QStringLiteral("--pty"), stretch.minimal_line.device()}, false);
    const auto all_requested = [&] {
        for (int which = 0; which < pollers; ++which) {
            if (by[which].line->requests() <= before[which])
                return false;
        }
        return true;
    };
    if (!run_until(all_requested, 15000))
        fail(QStringLiteral("a polling process sent no request"));
    run_for(1000);  // past the start-up
}

// Starts the lines and the three polling processes.
void start_polling(PollingStretch& stretch)
{
    QString error;
    if (!stretch.program_line.start(&error) || !stretch.minimal_line.start(&error) || !stretch.same_line.start(&error))
        fail(error);
    std::array<Poller, pollers>& by = stretch.by_which;
    by[program].line = &stretch.program_line;
    by[same].line = &stretch.same_line;
    by[minimal].line = &stretch.minimal_line;
    spawn_pollers(stretch);
}

// 2, 3 and 4: one CPU window, with the three processes started anew for
// each window after the first. Side by side on a timer each, they keep for
// their whole life the arrangement of ticks they started with, against each
// other and against the lines; so that one arrangement does not decide the
// figure, each window gets processes of its own. Each poller's cadence is
// taken over the window, its peak memory over its life.
void measure_window(PollingStretch& stretch, int window, int seconds)
{
    if (window > 0) {
        for (Poller& poller : stretch.by_which) {
            poller.rss = std::max(poller.rss, peak_rss_mib(poller.child.pid));
            terminate(poller.child);
        }
        spawn_pollers(stretch);
    }
    std::array<double, pollers> cpu_0 {};
    std::array<std::size_t, pollers> first {};
    for (int which = 0; which < pollers; ++which) {
        cpu_0[which] = cpu_seconds(stretch.by_which[which].child.pid);
        first[which] = stretch.by_which[which].line->arrivals().size();
    }
    const std::int64_t window_start = now_ns();
    run_for(seconds * 1000);
    stretch.window_length_ns += now_ns() - window_start;
    for (int which = 0; which < pollers; ++which) {
        Poller& poller = stretch.by_which[which];
        poller.cpu.push_back(cpu_seconds(poller.child.pid) - cpu_0[which]);
        const std::vector<std::int64_t>& arrivals = poller.line->arrivals();
        poller.arrivals.emplace_back(arrivals.begin() + static_cast<std::ptrdiff_t>(first[which]), arrivals.end());
    }
    say(QStringLiteral("      window %1: CPU %2 / %3 / %4 s, load average %5")
            .arg(window + 1)
            .arg(stretch.by_which[program].cpu.back(), 0, 'f', 3)
            .arg(stretch.by_which[same].cpu.back(), 0, 'f', 3)
            .arg(stretch.by_which[minimal].cpu.back(), 0, 'f', 3)
            .arg(load_average()));
}

// 2, 3 and 4: the CPU windows.
void measure_cpu_windows(PollingStretch& stretch, const Options& options)
{
    for (int window = 0; window < cpu_windows; ++window)
        measure_window(stretch, window, options.window_s);
    if (!stretch.all_polling())
        fail(QStringLiteral("a polling process ended during the windows"));
    for (Poller& poller : stretch.by_which)
        poller.rss = std::max(poller.rss, peak_rss_mib(poller.child.pid));
}

// Why strace counted nothing for `name`: its first words in its log.
void report_strace_failure(const QString& name)
{
    QFile log(log_dir() + QStringLiteral("/strace.log"));
    const QString said = log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readLine()).trimmed() : QString();
    say(QStringLiteral("pondara-bench: strace could not attach to the %1 (%2): its wake-ups are not "
                       "measured; /proc/sys/kernel/yama/ptrace_scope may forbid it")
            .arg(name, said));
}

// 7: wake-ups per request. strace stops the thread at each of its system
// calls, so this comes after the CPU windows, never during them.
void count_wakeups(PollingStretch& stretch, const Options& options, const QString& strace)
{
    if (strace.isEmpty())
        return;
    std::vector<std::unique_ptr<PollCounter>> counters;
    std::array<std::uint64_t, pollers> requests_0 {};
    const QString names[pollers]
        = {QStringLiteral("program"), QStringLiteral("same window"), QStringLiteral("minimal program")};
    for (int which = 0; which < pollers; ++which) {
        requests_0[which] = stretch.by_which[which].line->requests();
        counters.push_back(std::make_unique<PollCounter>(strace, stretch.by_which[which].child.pid));
    }
    run_for(options.wakeup_s * 1000);
    for (int which = 0; which < pollers; ++which) {
        Poller& poller = stretch.by_which[which];
        const std::optional<double> polls = counters[which]->stop();
        const auto requests = static_cast<double>(poller.line->requests() - requests_0[which]);
        if (requests < 1)
            fail(QStringLiteral("no request during the wake-up count of the %1").arg(names[which]));
        if (polls)
            poller.wakeups_per_request = *polls / requests;
        else
            report_strace_failure(names[which]);
    }
    if (!stretch.all_polling())
        fail(QStringLiteral("a polling process ended during the wake-up count"));
}

void measure_polling(PollingStretch& stretch, const Options& options, const QString& strace)
{
    say(QStringLiteral("[2/6] polling: %1 windows of %2 s, then %3 s of wake-up counts; program, same window "
                       "and minimal program side by side")
            .arg(cpu_windows)
            .arg(options.window_s)
            .arg(options.wakeup_s));
    start_polling(stretch);
    measure_cpu_windows(stretch, options);
    count_wakeups(stretch, options, strace);
}

// 6: CPU after unplugging, for the program, the same window and the naive
// QSerialPort program.
struct Unplugged {
    Spread program;
    Spread same;
    Spread naive;
};

Spread naive_after_unplug(const Options& options)
{
    say(QStringLiteral("[5/6] naive QSerialPort program after unplugging: %1 s").arg(options.unplug_s));
    QString error;
    bench::BenchLine naive_line(3, true);
    if (!naive_line.start(&error))
        fail(error);
    Child naive = spawn(QStringLiteral("pondara-bench-naive"), {naive_line.device()}, false);
    if (!run_until([&] { return naive_line.requests() >= 5; }, 15000))
        fail(QStringLiteral("the naive program sent no request"));
    const Spread unplugged = cpu_share_after_unplug(naive.pid, naive_line, options.unplug_s);
    terminate(naive);
    return unplugged;
}

// Ends the polling stretch: the minimal program goes, then the program and
// the same window each lose their line.
Unplugged measure_unplugs(PollingStretch& stretch, const Options& options)
{
    std::array<Poller, pollers>& by = stretch.by_which;
    terminate(by[minimal].child);
    stretch.minimal_line.unplug();
    Unplugged result;
    say(QStringLiteral("[3/6] program after unplugging: %1 s").arg(options.unplug_s));
    result.program = cpu_share_after_unplug(by[program].child.pid, stretch.program_line, options.unplug_s);
    if (!running(by[program].child))
        fail(QStringLiteral("the program ended after the unplugging"));
    terminate(by[program].child);
    say(QStringLiteral("[4/6] same window after unplugging: %1 s").arg(options.unplug_s));
    result.same = cpu_share_after_unplug(by[same].child.pid, stretch.same_line, options.unplug_s);
    terminate(by[same].child);
    result.naive = naive_after_unplug(options);
    return result;
}

// 5: exec to first paint of `program`, in ms.
double startup_ms(const QString& program)
{
    const std::int64_t exec_time = now_ns();
    Child child = spawn(program, {QStringLiteral("--first-paint")}, true);
    const QMap<QString, double> values = parse_values(finish(child));
    if (!values.contains(QStringLiteral("first_paint_ns")))
        fail(QStringLiteral("%1 reported no first paint").arg(program));
    return (values.value(QStringLiteral("first_paint_ns")) - static_cast<double>(exec_time)) / 1e6;
}

// 5: the three programs in turn, after one unmeasured warm-up run of each
// (it fills the file cache).
std::array<std::vector<double>, pollers> measure_startups(const Options& options)
{
    say(QStringLiteral("[6/6] start-up: %1 runs each").arg(options.startups));
    const QString programs[pollers] = {QStringLiteral("pondara-bench-app"), QStringLiteral("pondara-bench-same-window"),
                                       QStringLiteral("pondara-bench-minimal")};
    std::array<std::vector<double>, pollers> startups;
    for (int run = 0; run <= options.startups; ++run) {
        for (int which = 0; which < pollers; ++which) {
            const double ms = startup_ms(programs[which]);
            if (run > 0)
                startups[which].push_back(ms);
        }
    }
    return startups;
}

// 9: the scan run's "name value" lines.
QMap<QString, double> measure_scan()
{
    say(QStringLiteral("[+] module scan: 256 addresses, modules at 1 and 200, wait 50 ms"));
    Child run = spawn(QStringLiteral("pondara-bench-scan"), {}, true);
    return parse_values(finish(run));
}

// The rows of the table, one function for each figure.

const QString minimal_name = QStringLiteral("minimal program");

std::array<Spread, pollers> per_poller(const PollingStretch& stretch,
                                       const std::function<Spread(const Poller&)>& figure)
{
    return {figure(stretch.by_which[program]), figure(stretch.by_which[same]), figure(stretch.by_which[minimal])};
}

// 1, median and p99, from the latency run's "side_figure" lines.
std::vector<Row> latency_rows(const QMap<QString, double>& latency)
{
    const auto figure = [&](const char* side, const char* name) {
        const QString prefix = QLatin1String(side) + QLatin1Char('_');
        return Spread {latency.value(prefix + QLatin1String(name)), latency.value(prefix + QStringLiteral("min_ms")),
                       latency.value(prefix + QStringLiteral("max_ms"))};
    };
    const QString bare = QStringLiteral("bare QSerialPort");
    const Spread median[pollers]
        = {figure("program", "median_ms"), figure("same_window", "median_ms"), figure("baseline", "median_ms")};
    const Spread p99[pollers]
        = {figure("program", "p99_ms"), figure("same_window", "p99_ms"), figure("baseline", "p99_ms")};
    return {{QStringLiteral("1 Reply latency median (ms)"), median[0], median[1], median[2], bare,
             QStringLiteral("<= 1.1x same window"), median[0].value <= 1.1 * median[1].value, 3, true},
            {QStringLiteral("1 Reply latency p99 (ms)"), p99[0], p99[1], p99[2], bare, QStringLiteral("< 2 ms"),
             p99[0].value < 2.0, 3, true}};
}

std::vector<Row> cadence_rows(const PollingStretch& stretch)
{
    const auto per_second = per_poller(stretch, [](const Poller& p) { return p.cadence_spread(&Cadence::per_second); });
    const auto interval
        = per_poller(stretch, [](const Poller& p) { return p.cadence_spread(&Cadence::mean_interval_ms); });
    const auto deviation
        = per_poller(stretch, [](const Poller& p) { return p.cadence_spread(&Cadence::p99_deviation_ms); });
    return {{QStringLiteral("2 Requests per second"), per_second[0], per_second[1], per_second[2], minimal_name,
             QStringLiteral("5.00 +- 0.02"), std::fabs(per_second[0].value - 5.0) <= 0.02, 3, true},
            {QStringLiteral("2 Mean interval (ms)"), interval[0], interval[1], interval[2], minimal_name,
             QStringLiteral("(200 +- 0.8)"), std::fabs(interval[0].value - 200.0) <= 0.8, 3, true},
            {QStringLiteral("2 p99 |interval - 200 ms| (ms)"), deviation[0], deviation[1], deviation[2], minimal_name,
             QStringLiteral("< 5 ms"), deviation[0].value < 5.0, 3, true}};
}

Row cpu_row(const PollingStretch& stretch, const Options& options)
{
    const auto cpu = per_poller(stretch, [](const Poller& p) { return median_of(p.cpu); });
    return {QStringLiteral("3 CPU while polling (s / %1 s)").arg(options.window_s),
            cpu[0],
            cpu[1],
            cpu[2],
            minimal_name,
            QStringLiteral("<= 1.2x same window"),
            cpu[0].value <= 1.2 * cpu[1].value,
            3,
            true};
}

Row memory_row(const PollingStretch& stretch)
{
    const auto rss = per_poller(stretch, [](const Poller& p) { return Spread {p.rss, not_measured, not_measured}; });
    return {QStringLiteral("4 Peak resident memory (MiB)"),
            rss[0],
            rss[1],
            rss[2],
            minimal_name,
            QStringLiteral("<= 1.05x same window"),
            rss[0].value <= 1.05 * rss[1].value,
            1,
            false};
}

Row startup_row(const std::array<std::vector<double>, pollers>& startups)
{
    const Spread start[pollers] = {median_of(startups[0]), median_of(startups[1]), median_of(startups[2])};
    return {QStringLiteral("5 Start-up to first paint (ms)"),
            start[0],
            start[1],
            start[2],
            minimal_name,
            QStringLiteral("<= 1.1x same window"),
            start[0].value <= 1.1 * start[1].value,
            1,
            true};
}

Row unplug_row(const Unplugged& unplugged, const QString& release)
{
    return {QStringLiteral("6 CPU after unplugging, %1 (% core)").arg(release),
            unplugged.program,
            unplugged.same,
            unplugged.naive,
            QStringLiteral("naive QSerialPort"),
            QStringLiteral("< 1% of a core"),
            unplugged.program.value < 1.0,
            2,
            true};
}

Row wakeup_row(const PollingStretch& stretch)
{
    const auto wakeups = per_poller(stretch, [](const Poller& p) {
        return Spread {p.wakeups_per_request, not_measured, not_measured};
    });
    return {QStringLiteral("7 Wake-ups per request"),
            wakeups[0],
            wakeups[1],
            wakeups[2],
            minimal_name,
            QStringLiteral("<= 4 and <= same window"),
            wakeups[0].value <= 4.0 && wakeups[0].value <= wakeups[1].value,
            2,
            false};
}

Row trend_row(std::pair<double, double> without_and_with, const Options& options)
{
    const auto [without_trend_cpu, trend_cpu] = without_and_with;
    return {QStringLiteral("8 CPU, trend window open (s / %1 s)").arg(options.window_s),
            Spread {trend_cpu, not_measured, not_measured},
            Spread {},
            Spread {without_trend_cpu, not_measured, not_measured},
            QStringLiteral("window shut"),
            QStringLiteral("<= 2x window shut"),
            trend_cpu <= 2.0 * without_trend_cpu,
            3,
            false};
}

// 9: the scan of 0..255 with a 50 ms answer wait against the port's
// physical limit; and the time from each module's reply to its row in the
// table.
std::vector<Row> scan_rows(const QMap<QString, double>& scan)
{
    const auto figure = [&](const char* name) { return scan.value(QLatin1String(name), not_measured); };
    const Spread total {figure("scan_total_ms"), figure("scan_total_min_ms"), figure("scan_total_max_ms")};
    const double limit = figure("scan_limit_ms");
    const Spread to_row {figure("row_median_ms"), figure("row_min_ms"), figure("row_max_ms")};
    return {{QStringLiteral("9 Scan 0..255, W 50 ms (ms)"), total, Spread {},
             Spread {limit, not_measured, not_measured}, QStringLiteral("physical limit"),
             QStringLiteral("<= 1.15x physical limit"), total.value <= 1.15 * limit, 0, true},
            {QStringLiteral("9 Scan reply to row (ms)"), to_row, Spread {}, Spread {}, QString(),
             QStringLiteral("(reported)"), !std::isnan(to_row.value), 3, true}};
}

// 10: the CPU of a copy recording against one that does not, and the
// recording's growth.
std::vector<Row> recording_rows(const RecordingFigures& recording, const Options& options)
{
    return {{QStringLiteral("10 CPU, recording (s / %1 s)").arg(options.window_s),
             Spread {recording.recording_cpu, not_measured, not_measured}, Spread {},
             Spread {recording.plain_cpu, not_measured, not_measured}, QStringLiteral("not recording"),
             QStringLiteral("<= 1.1x not recording"), recording.recording_cpu <= 1.1 * recording.plain_cpu, 3, false},
            {QStringLiteral("10 Recording growth (MB / hour)"),
             Spread {recording.mb_per_hour, not_measured, not_measured}, Spread {}, Spread {}, QString(),
             QStringLiteral("(about 1.5)"), recording.mb_per_hour <= 2.0, 2, false}};
}

// 11 to 13: the MQTT publisher run's "name value" lines.
QMap<QString, double> measure_mqtt(const Options& options)
{
    say(QStringLiteral(
            "[+] MQTT publisher: latency to a subscriber, CPU over 2 x %1 s in six rounds, broker killed 10 s")
            .arg(options.window_s));
    Child run = spawn(QStringLiteral("pondara-bench-mqtt"),
                      {QStringLiteral("--window"), QString::number(options.window_s)}, true);
    return parse_values(finish(run));
}

// 11: the reply's last byte to a subscriber; 12: CPU publishing against not
// publishing, and what it adds against a bare client's messages; 13: the
// polling cadence with the broker killed for 10 s.
std::vector<Row> mqtt_rows(const QMap<QString, double>& mqtt)
{
    const auto value = [&](const char* name) { return mqtt.value(QLatin1String(name), not_measured); };
    const auto alone = [](double figure) { return Spread {figure, not_measured, not_measured}; };
    const QString subscriber = QStringLiteral("reply to subscriber");
    const double median = value("mqtt_latency_median_ms");
    const double p99 = value("mqtt_latency_p99_ms");
    const double publishing = value("mqtt_cpu_publishing_s");
    const double plain = value("mqtt_cpu_plain_s");
    const double killed = value("mqtt_killed_requests_per_s");
    // What publishing adds, against what a bare client pays for the same
    // messages at the same pace: the part no publisher can save.
    const double added = publishing - plain;
    const double floor = value("mqtt_cpu_bare_publishing_s") - value("mqtt_cpu_bare_idle_s");
    return {{QStringLiteral("11 MQTT latency median (ms)"), alone(median), Spread {}, Spread {}, subscriber,
             QStringLiteral("<= 1 ms"), median <= 1.0, 3, false},
            {QStringLiteral("11 MQTT latency p99 (ms)"), alone(p99), Spread {}, Spread {}, subscriber,
             QStringLiteral("<= 5 ms"), p99 <= 5.0, 3, false},
            {QStringLiteral("12 CPU publishing (s / %1 s)").arg(value("mqtt_cpu_window_s")), alone(publishing),
             Spread {}, alone(plain), QStringLiteral("not publishing"), QStringLiteral("<= 1.2x not publishing"),
             publishing <= 1.2 * plain, 3, false},
            {QStringLiteral("12 CPU publishing adds (s / %1 s)").arg(value("mqtt_cpu_window_s")), alone(added),
             Spread {}, alone(floor), QStringLiteral("bare libmosquitto client"), QStringLiteral("(reported)"),
             !std::isnan(added), 3, false},
            {QStringLiteral("13 Requests/s, broker killed 10 s"), alone(killed), Spread {}, Spread {}, QString(),
             QStringLiteral("5.0 +- 0.1 (one request)"), std::fabs(killed - 5.0) <= 0.1, 3, false}};
}

// The machine, and what the run measured over how long.
void print_run(const QString& machine, const QString& load_before, std::int64_t started,
               const QMap<QString, double>& latency, const PollingStretch& stretch, const Options& options)
{
    std::printf("\nMachine: %s\n", qPrintable(machine));
    std::printf("Run: %.0f s; load average %s before, %s after; latency %d+%d+%d exchanges (%d without reply); "
                "%d CPU windows of %.3f s with %zu+%zu+%zu requests; wake-ups over %d s; start-up median of %d "
                "runs each\n",
                static_cast<double>(now_ns() - started) / 1e9, qPrintable(load_before), qPrintable(load_average()),
                static_cast<int>(latency.value(QStringLiteral("program_count"))),
                static_cast<int>(latency.value(QStringLiteral("same_window_count"))),
                static_cast<int>(latency.value(QStringLiteral("baseline_count"))),
                static_cast<int>(latency.value(QStringLiteral("timeouts"))), cpu_windows,
                static_cast<double>(stretch.window_length_ns) / 1e9 / cpu_windows, stretch.by_which[program].requests(),
                stretch.by_which[same].requests(), stretch.by_which[minimal].requests(), options.wakeup_s,
                options.startups);
}

// Removes the runtime folder, which holds only this run's logs, the
// recording of figure 10 and, by now, no links.
void remove_run_folder(const char* runtime_dir)
{
    for (const QString& name : {QStringLiteral("pondara-bench-latency"), QStringLiteral("pondara-bench-app"),
                                QStringLiteral("pondara-bench-minimal"), QStringLiteral("pondara-bench-naive"),
                                QStringLiteral("pondara-bench-same-window"), QStringLiteral("pondara-bench-scan"),
                                QStringLiteral("pondara-bench-mqtt"), QStringLiteral("strace")})
        QFile::remove(log_dir() + QLatin1Char('/') + name + QStringLiteral(".log"));
    QDir(log_dir() + QStringLiteral("/recording")).removeRecursively();
    ::rmdir((log_dir() + QStringLiteral("/pondara")).toLocal8Bit().constData());
    ::rmdir(runtime_dir);
}

// Every figure, then the table and the run.
void measure_all(const Options& options, const QString& release)
{
    const QString strace = find_strace();
    const QString machine = machine_line();
    const QString load_before = load_average();
    const std::int64_t started = now_ns();

    const QMap<QString, double> latency = measure_latency(options);
    PollingStretch stretch;
    measure_polling(stretch, options, strace);
    const Unplugged unplugged = measure_unplugs(stretch, options);
    const auto startups = measure_startups(options);
    say(QStringLiteral("[+] trend window: %1 s, the program with and without it side by side").arg(options.window_s));
    const std::pair<double, double> trend = trend_window_cpu(options.window_s);
    const QMap<QString, double> scan = measure_scan();
    say(QStringLiteral("[+] recording: %1 s, the program with and without it side by side").arg(options.window_s));
    const RecordingFigures recording = recording_cpu(options.window_s);
    const QMap<QString, double> mqtt = measure_mqtt(options);

    std::vector<Row> rows = latency_rows(latency);
    for (Row& row : cadence_rows(stretch))
        rows.push_back(std::move(row));
    rows.insert(rows.end(), {cpu_row(stretch, options), memory_row(stretch), startup_row(startups),
                             unplug_row(unplugged, release), wakeup_row(stretch), trend_row(trend, options)});
    for (Row& row : scan_rows(scan))
        rows.push_back(std::move(row));
    for (Row& row : recording_rows(recording, options))
        rows.push_back(std::move(row));
    for (Row& row : mqtt_rows(mqtt))
        rows.push_back(std::move(row));
    print_table(rows);
    std::fflush(stdout);
    print_run(machine, load_before, started, latency, stretch, options);
}

// --only unplug: steps 2 to 5 of the full run without the windows between.
// The three pollers start as for the polling stretch and poll for as long
// as the measurement after the unplugging lasts, past their start-up.
void measure_unplug_only(const Options& options, const QString& release)
{
    const QString machine = machine_line();
    const QString load_before = load_average();
    const std::int64_t started = now_ns();
    say(QStringLiteral("[2/6] polling: %1 s; program, same window and minimal program side by side")
            .arg(options.unplug_s));
    PollingStretch stretch;
    start_polling(stretch);
    run_for(options.unplug_s * 1000);
    if (!stretch.all_polling())
        fail(QStringLiteral("a polling process ended before the unplugging"));
    const Unplugged unplugged = measure_unplugs(stretch, options);
    print_table({unplug_row(unplugged, release)});
    std::printf("\nMachine: %s\n", qPrintable(machine));
    std::printf("Run: %.0f s; load average %s before, %s after; %d s of polling, then %d s after each unplugging\n",
                static_cast<double>(now_ns() - started) / 1e9, qPrintable(load_before), qPrintable(load_average()),
                options.unplug_s, options.unplug_s);
}

}  // namespace

int main(int argc, char* argv[])
{
    // A private runtime folder for the virtual ports and the logs, set
    // before anything reads it; the children inherit it.
    char runtime_dir[] = "/tmp/pondara-bench-XXXXXX";
    if (!::mkdtemp(runtime_dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    ::setenv("XDG_RUNTIME_DIR", runtime_dir, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QCoreApplication app(argc, argv);
    set_folders(QCoreApplication::applicationDirPath(), QString::fromLocal8Bit(runtime_dir));
    const std::optional<Options> options = read_options(QCoreApplication::arguments());
    if (!options) {
        ::rmdir(runtime_dir);
        return 2;
    }
    if (options->only_unplug)
        measure_unplug_only(*options, release_name());
    else
        measure_all(*options, release_name());
    remove_run_folder(runtime_dir);
    return 0;
}
