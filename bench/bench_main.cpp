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
// 2, 3, 4 and 7 share one stretch in which the program (pondara-bench-app, a
// twin of main() that presses the open button) and the same window each poll
// a simulated line and the minimal program writes to a third, side by side.
// Every child runs with the offscreen platform and a private runtime folder,
// so the virtual ports are this run's own.
//
// Options: --long (or BENCH_LONG=1 in the environment) makes each of the
// three CPU windows 600 s, the latency run 10000 exchanges per host, the
// start-up 45 runs and the wake-up window 60 s; --window S, --exchanges N,
// --startups N and --wakeups S set them one by one.

#include "bench_clock.h"
#include "bench_line.h"
#include "bench_stats.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace pondara;
using bench::now_ns;

struct Options {
    int window_s = 60;
    int exchanges = 2000;
    int startups = 15;
    int unplug_s = 5;
    int wakeup_s = 10;
};

constexpr int cpu_windows = 3;
constexpr double not_measured = std::numeric_limits<double>::quiet_NaN();

QString g_bin_dir;
QString g_log_dir;
std::vector<pid_t> g_children;  // started and not yet waited for

void forget_child(pid_t pid)
{
    g_children.erase(std::remove(g_children.begin(), g_children.end(), pid), g_children.end());
}

// Ends the run: stops this run's children, says why and where the logs are.
[[noreturn]] void fail(const QString& why)
{
    for (const pid_t pid : g_children) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    std::fprintf(stderr, "pondara-bench: %s (child logs in %s)\n", qPrintable(why), qPrintable(g_log_dir));
    std::exit(1);
}

void say(const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); }

// A child process of this run.
struct Child {
    pid_t pid = -1;
    int out = -1;  // its standard output, when captured
};

// Starts bin_dir/`program` (or `program` itself, given as an absolute path)
// with `args`; its standard error goes to a log file named after it, its
// standard output to a pipe or /dev/null.
Child spawn(const QString& program, const QStringList& args, bool capture)
{
    const QString name = program.section(QLatin1Char('/'), -1);
    const QByteArray path
        = QFile::encodeName(program.startsWith(QLatin1Char('/')) ? program : g_bin_dir + QLatin1Char('/') + program);
    const QByteArray log = QFile::encodeName(g_log_dir + QLatin1Char('/') + name + QStringLiteral(".log"));
    std::vector<QByteArray> storage {path};
    for (const QString& arg : args)
        storage.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipe_fds[2] = {-1, -1};
    if (capture) {
        if (::pipe2(pipe_fds, O_CLOEXEC) != 0)
            fail(QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    Child child;
    const int error = ::posix_spawn(&child.pid, path.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (capture)
        ::close(pipe_fds[1]);
    if (error != 0)
        fail(QStringLiteral("cannot start %1: %2").arg(program, QString::fromLocal8Bit(std::strerror(error))));
    g_children.push_back(child.pid);
    child.out = pipe_fds[0];
    return child;
}

// Reads the child's standard output to its end and waits for it.
QByteArray finish(Child& child)
{
    QByteArray output;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(child.out, buffer, sizeof buffer);
        if (count > 0)
            output.append(buffer, count);
        else if (!(count < 0 && errno == EINTR))
            break;
    }
    ::close(child.out);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    forget_child(child.pid);
    child.pid = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(QStringLiteral("a child failed (status %1)").arg(status));
    return output;
}

// Ends a child as `kill` does, with SIGTERM, and waits for it. Every child
// ends on it as the program does, closing its ports and with them their lock
// files, with status 0; anything else fails the run.
void terminate(Child& child)
{
    if (child.pid <= 0)
        return;
    ::kill(child.pid, SIGTERM);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    forget_child(child.pid);
    child.pid = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(QStringLiteral("a child did not end cleanly on SIGTERM (status %1)").arg(status));
}

bool running(Child& child)
{
    int status = 0;
    if (child.pid > 0 && ::waitpid(child.pid, &status, WNOHANG) == 0)
        return true;
    forget_child(child.pid);
    child.pid = -1;
    return false;
}

// "name value" lines.
QMap<QString, double> parse_values(const QByteArray& text)
{
    QMap<QString, double> values;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() == 2)
            values.insert(QString::fromLatin1(parts[0]), parts[1].toDouble());
    }
    return values;
}

// CPU time the process has used so far, in seconds: the sum over its
// threads of the scheduler's on-CPU time (/proc/<pid>/task/*/schedstat, in
// ns). /proc/<pid>/stat counts in 10 ms ticks, too coarse for a process
// that works some microseconds per wake-up.
double cpu_seconds(pid_t pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty())
        fail(QStringLiteral("cannot list %1").arg(tasks));
    double total_ns = 0.0;
    for (const QString& thread : threads) {
        QFile file(tasks + QLatin1Char('/') + thread + QStringLiteral("/schedstat"));
        if (file.open(QIODevice::ReadOnly))
            total_ns += file.readAll().split(' ').value(0).toDouble();
    }
    return total_ns / 1e9;
}

// The peak resident set size so far, in MiB.
double peak_rss_mib(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1").arg(file.fileName()));
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).simplified().split(' ').value(0).toDouble() / 1024.0;
    }
    fail(QStringLiteral("no VmHWM in %1").arg(file.fileName()));
}

// Runs the event loop for `ms` (a precise timer: a coarse one, the default
// from 2 s on, may end a 60 s window 3 s early).
void run_for(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool run_until(const std::function<bool()>& done, int timeout_ms)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(10);
    QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// A figure measured several times: the one reported and the spread.
struct Spread {
    double value = not_measured;
    double min = not_measured;
    double max = not_measured;
};

Spread spread_of(const std::vector<double>& samples, double value)
{
    if (samples.empty())
        return {};
    const auto [min, max] = std::minmax_element(samples.begin(), samples.end());
    return {value, *min, *max};
}

Spread median_of(const std::vector<double>& samples) { return spread_of(samples, bench::median(samples)); }

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

// Counts the returns from poll() and ppoll() of one thread while it runs:
// strace -c attached to that thread alone (a thread id, without -f).
class PollCounter {
public:
    PollCounter(const QString& strace, pid_t tid) : m_output(g_log_dir + QStringLiteral("/strace-%1.txt").arg(tid))
    {
        m_strace = spawn(strace,
                         {QStringLiteral("-c"), QStringLiteral("-e"), QStringLiteral("trace=poll,ppoll"),
                          QStringLiteral("-o"), m_output, QStringLiteral("-p"), QString::number(tid)},
                         false);
    }

    // Detaches (strace writes its summary on SIGINT) and returns the calls,
    // or nothing when strace could not attach (a thread that polls every
    // 200 ms has always made some).
    std::optional<double> stop()
    {
        ::kill(m_strace.pid, SIGINT);
        int status = 0;
        ::waitpid(m_strace.pid, &status, 0);
        forget_child(m_strace.pid);
        QFile file(m_output);
        if (!file.open(QIODevice::ReadOnly))
            fail(QStringLiteral("strace wrote no summary to %1").arg(m_output));
        // "% time  seconds  usecs/call  calls  [errors]  syscall"
        double calls = 0;
        bool seen = false;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 5 && (fields.last() == "poll" || fields.last() == "ppoll")) {
                calls += fields[3].toDouble();
                seen = true;
            }
        }
        file.close();
        file.remove();
        if (!seen)
            return std::nullopt;
        return calls;
    }

private:
    QString m_output;
    Child m_strace;
};

// Cadence from request arrival times.
struct Cadence {
    double per_second = 0.0;
    double mean_interval_ms = 0.0;
    double p99_deviation_ms = 0.0;
    std::size_t requests = 0;
};

Cadence cadence(const std::vector<std::int64_t>& arrivals)
{
    Cadence result;
    result.requests = arrivals.size();
    if (arrivals.size() < 2)
        return result;
    const double span_ms = static_cast<double>(arrivals.back() - arrivals.front()) / 1e6;
    const double intervals = static_cast<double>(arrivals.size() - 1);
    result.mean_interval_ms = span_ms / intervals;
    result.per_second = intervals * 1000.0 / span_ms;
    std::vector<double> deviations;
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        deviations.push_back(std::fabs(static_cast<double>(arrivals[i] - arrivals[i - 1]) / 1e6 - 200.0));
    result.p99_deviation_ms = bench::quantile(deviations, 0.99);
    return result;
}

// One polling process beside its line, over the CPU windows.
struct Poller {
    Child child;
    bench::BenchLine* line = nullptr;
    std::vector<double> cpu;  // seconds, per window
    std::vector<Cadence> cadences;  // per window
    std::vector<std::int64_t> all_arrivals;  // over all windows together
    double rss = 0.0;
    double wakeups_per_request = not_measured;

    // The spread of one cadence figure over the windows, around the figure
    // of all windows together.
    Spread cadence_spread(double Cadence::*figure) const
    {
        std::vector<double> samples;
        for (const Cadence& part : cadences)
            samples.push_back(part.*figure);
        return spread_of(samples, cadence(all_arrivals).*figure);
    }
};

// 8: two copies of the program poll lines of their own (ports 4 and 5) for
// `seconds`, the second with the trend window open; returns the CPU seconds
// of each, without and with the window.
std::pair<double, double> trend_window_cpu(int seconds)
{
    QString error;
    bench::BenchLine plain_line(4, true);
    bench::BenchLine trend_line(5, true);
    if (!plain_line.start(&error) || !trend_line.start(&error))
        fail(error);
    const QString app = QStringLiteral("pondara-bench-app");
    Child plain = spawn(app, {QStringLiteral("--open"), QStringLiteral("--port"), QStringLiteral("4")}, false);
    Child trend = spawn(
        app, {QStringLiteral("--open"), QStringLiteral("--port"), QStringLiteral("5"), QStringLiteral("--trend")},
        false);
    if (!run_until([&] { return plain_line.requests() > 0 && trend_line.requests() > 0; }, 15000))
        fail(QStringLiteral("a program with or without the trend window sent no request"));
    run_for(2000);  // past the start-up and the loading of the window's module
    const double plain_0 = cpu_seconds(plain.pid);
    const double trend_0 = cpu_seconds(trend.pid);
    run_for(seconds * 1000);
    const std::pair<double, double> used {cpu_seconds(plain.pid) - plain_0, cpu_seconds(trend.pid) - trend_0};
    if (!running(plain) || !running(trend))
        fail(QStringLiteral("a program ended during the trend window run"));
    terminate(plain);
    terminate(trend);
    return used;
}

QString read_text(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

QString load_average() { return read_text("/proc/loadavg").section(QLatin1Char(' '), 0, 2); }

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

struct Row {
    QString figure;
    Spread program;
    Spread same;
    Spread minimal;
    QString minimal_name;
    QString target;
    bool ok;
    int decimals;
    bool timed;  // a timed figure: its spread gets a line of its own
};

QString number(double value, int decimals)
{
    return std::isnan(value) ? QStringLiteral("-") : QString::number(value, 'f', decimals);
}

QString ratio(double value, double base)
{
    if (std::isnan(value) || std::isnan(base) || base == 0.0)
        return QStringLiteral("-");
    return QString::number(value / base, 'f', 2) + QLatin1Char('x');
}

QString range(const Spread& spread, int decimals)
{
    if (std::isnan(spread.min))
        return QStringLiteral("-");
    return number(spread.min, decimals) + QStringLiteral("..") + number(spread.max, decimals);
}

// The program against the same window (the targets' baseline) and against
// the minimal baseline of the figure; under each timed figure, the spread of
// its samples (min..max).
void print_table(const std::vector<Row>& rows)
{
    const char* const format = "%-32s %17s %17s %7s %17s %7s  %-18s %-24s %s\n";
    std::printf("\n");
    std::printf(format, "Figure", "Program", "Same window", "Ratio", "Minimal", "Ratio", "Minimal is", "Target",
                "Verdict");
    std::printf("%s\n", QByteArray(156, '-').constData());
    for (const Row& row : rows) {
        const char* const verdict = std::isnan(row.program.value) ? "not measured" : row.ok ? "met" : "MISSED";
        std::printf(format, qPrintable(row.figure), qPrintable(number(row.program.value, row.decimals)),
                    qPrintable(number(row.same.value, row.decimals)),
                    qPrintable(ratio(row.program.value, row.same.value)),
                    qPrintable(number(row.minimal.value, row.decimals)),
                    qPrintable(ratio(row.program.value, row.minimal.value)), qPrintable(row.minimal_name),
                    qPrintable(row.target), verdict);
        if (row.timed) {
            std::printf(format, "    spread (min..max)", qPrintable(range(row.program, row.decimals)),
                        qPrintable(range(row.same, row.decimals)), "", qPrintable(range(row.minimal, row.decimals)), "",
                        "", "", "");
        }
    }
}

int int_option(const QStringList& args, const QString& name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? std::max(1, args[at + 1].toInt()) : fallback;
}

// Rows 10 to 12: the MQTT publisher, from pondara-bench-mqtt.
void add_mqtt_rows(std::vector<Row>& rows, int window_s)
{
    say(QStringLiteral("[+] MQTT publisher: latency to a subscriber, CPU over %1 s, broker killed 10 s").arg(window_s));
    Child child
        = spawn(QStringLiteral("pondara-bench-mqtt"), {QStringLiteral("--window"), QString::number(window_s)}, true);
    const QMap<QString, double> values = parse_values(finish(child));
    const auto value = [&](const char* name) { return values.value(QLatin1String(name), not_measured); };
    const auto alone = [](double figure) { return Spread {figure, not_measured, not_measured}; };
    const QString subscriber = QStringLiteral("reply to subscriber");
    rows.push_back({QStringLiteral("10 MQTT latency median (ms)"), alone(value("mqtt_latency_median_ms")), Spread {},
                    Spread {}, subscriber, QStringLiteral("<= 1 ms"), value("mqtt_latency_median_ms") <= 1.0, 3,
                    false});
    rows.push_back({QStringLiteral("10 MQTT latency p99 (ms)"), alone(value("mqtt_latency_p99_ms")), Spread {},
                    Spread {}, subscriber, QStringLiteral("<= 5 ms"), value("mqtt_latency_p99_ms") <= 5.0, 3, false});
    const double publishing = value("mqtt_cpu_publishing_s");
    const double plain = value("mqtt_cpu_plain_s");
    rows.push_back({QStringLiteral("11 CPU publishing (s / %1 s)").arg(window_s), alone(publishing), Spread {},
                    alone(plain), QStringLiteral("not publishing"), QStringLiteral("<= 1.2x not publishing"),
                    publishing <= 1.2 * plain, 3, false});
    const double killed = value("mqtt_killed_requests_per_s");
    rows.push_back({QStringLiteral("12 Requests/s, broker killed 10 s"), alone(killed), Spread {}, Spread {}, QString(),
                    QStringLiteral("5.0 +- 0.1 (one request)"), std::fabs(killed - 5.0) <= 0.1, 3, false});
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
    g_bin_dir = QCoreApplication::applicationDirPath();
    g_log_dir = QString::fromLocal8Bit(runtime_dir);

    const QStringList args = QCoreApplication::arguments();
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
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        say(QStringLiteral("pondara-bench: no strace on PATH (scripts/install-deps installs it): "
                           "wake-ups per request are not measured"));

    const QString machine = machine_line();
    const QString load_before = load_average();
    const std::int64_t started = now_ns();
    std::vector<Row> rows;

    // 1. Reply latency.
    say(QStringLiteral("[1/6] reply latency: %1 exchanges per host").arg(options.exchanges));
    Child latency_run = spawn(QStringLiteral("pondara-bench-latency"),
                              {QStringLiteral("--exchanges"), QString::number(options.exchanges)}, true);
    const QMap<QString, double> latency = parse_values(finish(latency_run));
    for (const char* side : {"program", "baseline", "same_window"}) {
        if (latency.value(QLatin1String(side) + QStringLiteral("_count")) < 1)
            fail(QStringLiteral("the latency run measured nothing for %1").arg(QLatin1String(side)));
    }

    // 2, 3, 4 and 7: the polling stretch, the three polling processes side
    // by side.
    say(QStringLiteral("[2/6] polling: %1 windows of %2 s, then %3 s of wake-up counts; program, same window "
                       "and minimal program side by side")
            .arg(cpu_windows)
            .arg(options.window_s)
            .arg(options.wakeup_s));
    QString error;
    bench::BenchLine program_line(1, true);
    bench::BenchLine minimal_line(2, false);
    bench::BenchLine same_line(4, true);
    if (!program_line.start(&error) || !minimal_line.start(&error) || !same_line.start(&error))
        fail(error);
    enum { program = 0, same = 1, minimal = 2 };
    Poller pollers[3];
    pollers[program].line = &program_line;
    pollers[same].line = &same_line;
    pollers[minimal].line = &minimal_line;
    pollers[program].child = spawn(QStringLiteral("pondara-bench-app"), {QStringLiteral("--open")}, false);
    pollers[same].child
        = spawn(QStringLiteral("pondara-bench-same-window"), {QStringLiteral("--pty"), same_line.device()}, false);
    pollers[minimal].child
        = spawn(QStringLiteral("pondara-bench-minimal"), {QStringLiteral("--pty"), minimal_line.device()}, false);
    const auto all_polling = [&] {
        return std::all_of(std::begin(pollers), std::end(pollers), [](Poller& p) { return running(p.child); });
    };
    if (!run_until(
            [&] {
                return std::all_of(std::begin(pollers), std::end(pollers),
                                   [](const Poller& p) { return p.line->requests() > 0; });
            },
            15000))
        fail(QStringLiteral("a polling process sent no request"));
    run_for(1000);  // past the start-up
    // The arrivals run on from window to window: each window's cadence is
    // its own slice of them.
    for (Poller& poller : pollers)
        poller.line->clear_arrivals();
    std::size_t window_first[3] = {0, 0, 0};
    std::int64_t window_length_ns = 0;
    for (int window = 0; window < cpu_windows; ++window) {
        double cpu_0[3];
        for (int which = 0; which < 3; ++which)
            cpu_0[which] = cpu_seconds(pollers[which].child.pid);
        const std::int64_t window_start = now_ns();
        run_for(options.window_s * 1000);
        window_length_ns += now_ns() - window_start;
        for (int which = 0; which < 3; ++which) {
            Poller& poller = pollers[which];
            poller.cpu.push_back(cpu_seconds(poller.child.pid) - cpu_0[which]);
            const std::vector<std::int64_t>& arrivals = poller.line->arrivals();
            poller.cadences.push_back(
                cadence({arrivals.begin() + static_cast<std::ptrdiff_t>(window_first[which]), arrivals.end()}));
            window_first[which] = arrivals.size();
        }
        say(QStringLiteral("      window %1: CPU %2 / %3 / %4 s, load average %5")
                .arg(window + 1)
                .arg(pollers[program].cpu.back(), 0, 'f', 3)
                .arg(pollers[same].cpu.back(), 0, 'f', 3)
                .arg(pollers[minimal].cpu.back(), 0, 'f', 3)
                .arg(load_average()));
    }
    for (Poller& poller : pollers) {
        poller.rss = peak_rss_mib(poller.child.pid);
        poller.all_arrivals = poller.line->arrivals();
    }
    if (!all_polling())
        fail(QStringLiteral("a polling process ended during the windows"));

    // Wake-ups: strace stops the thread at each of its system calls, so this
    // comes after the CPU windows, never during them.
    if (!strace.isEmpty()) {
        std::vector<std::unique_ptr<PollCounter>> counters;
        std::uint64_t requests_0[3];
        const QString names[3]
            = {QStringLiteral("program"), QStringLiteral("same window"), QStringLiteral("minimal program")};
        for (int which = 0; which < 3; ++which) {
            requests_0[which] = pollers[which].line->requests();
            counters.push_back(std::make_unique<PollCounter>(strace, pollers[which].child.pid));
        }
        run_for(options.wakeup_s * 1000);
        for (int which = 0; which < 3; ++which) {
            const std::optional<double> polls = counters[which]->stop();
            const auto requests = static_cast<double>(pollers[which].line->requests() - requests_0[which]);
            if (requests < 1)
                fail(QStringLiteral("no request during the wake-up count of the %1").arg(names[which]));
            if (polls) {
                pollers[which].wakeups_per_request = *polls / requests;
                continue;
            }
            QFile log(g_log_dir + QStringLiteral("/strace.log"));
            const QString said
                = log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readLine()).trimmed() : QString();
            say(QStringLiteral("pondara-bench: strace could not attach to the %1 (%2): its wake-ups are not "
                               "measured; /proc/sys/kernel/yama/ptrace_scope may forbid it")
                    .arg(names[which], said));
        }
        if (!all_polling())
            fail(QStringLiteral("a polling process ended during the wake-up count"));
    }
    terminate(pollers[minimal].child);
    minimal_line.unplug();

    say(QStringLiteral("[3/6] program after unplugging: %1 s").arg(options.unplug_s));
    const Spread program_unplug = cpu_share_after_unplug(pollers[program].child.pid, program_line, options.unplug_s);
    if (!running(pollers[program].child))
        fail(QStringLiteral("the program ended after the unplugging"));
    terminate(pollers[program].child);

    say(QStringLiteral("[4/6] same window after unplugging: %1 s").arg(options.unplug_s));
    const Spread same_unplug = cpu_share_after_unplug(pollers[same].child.pid, same_line, options.unplug_s);
    terminate(pollers[same].child);

    // The naive program's part of 6.
    say(QStringLiteral("[5/6] naive QSerialPort program after unplugging: %1 s").arg(options.unplug_s));
    bench::BenchLine naive_line(3, true);
    if (!naive_line.start(&error))
        fail(error);
    Child naive = spawn(QStringLiteral("pondara-bench-naive"), {naive_line.device()}, false);
    if (!run_until([&] { return naive_line.requests() >= 5; }, 15000))
        fail(QStringLiteral("the naive program sent no request"));
    const Spread naive_unplug = cpu_share_after_unplug(naive.pid, naive_line, options.unplug_s);
    terminate(naive);

    // 5. Start-up: the three programs in turn, after one unmeasured warm-up
    // run of each (it fills the file cache).
    say(QStringLiteral("[6/6] start-up: %1 runs each").arg(options.startups));
    std::vector<double> startup[3];
    const QString startup_programs[3]
        = {QStringLiteral("pondara-bench-app"), QStringLiteral("pondara-bench-same-window"),
           QStringLiteral("pondara-bench-minimal")};
    for (int run = 0; run <= options.startups; ++run) {
        for (int which = 0; which < 3; ++which) {
            const std::int64_t exec_time = now_ns();
            Child child = spawn(startup_programs[which], {QStringLiteral("--first-paint")}, true);
            const QMap<QString, double> values = parse_values(finish(child));
            if (!values.contains(QStringLiteral("first_paint_ns")))
                fail(QStringLiteral("%1 reported no first paint").arg(startup_programs[which]));
            if (run > 0)
                startup[which].push_back(
                    (values.value(QStringLiteral("first_paint_ns")) - static_cast<double>(exec_time)) / 1e6);
        }
    }

    say(QStringLiteral("[+] trend window: %1 s, the program with and without it side by side").arg(options.window_s));
    const auto [without_trend_cpu, trend_cpu] = trend_window_cpu(options.window_s);

    // The table.
    const auto latency_figure = [&](const char* side, const char* figure) {
        const QString prefix = QLatin1String(side) + QLatin1Char('_');
        return Spread {latency.value(prefix + QLatin1String(figure)), latency.value(prefix + QStringLiteral("min_ms")),
                       latency.value(prefix + QStringLiteral("max_ms"))};
    };
    const auto rows_for = [&](const std::function<Spread(const Poller&)>& figure) {
        return std::array<Spread, 3> {figure(pollers[program]), figure(pollers[same]), figure(pollers[minimal])};
    };
    const QString bare = QStringLiteral("bare QSerialPort");
    const QString minimal_name = QStringLiteral("minimal program");

    const Spread lat_median[3] = {latency_figure("program", "median_ms"), latency_figure("same_window", "median_ms"),
                                  latency_figure("baseline", "median_ms")};
    const Spread lat_p99[3] = {latency_figure("program", "p99_ms"), latency_figure("same_window", "p99_ms"),
                               latency_figure("baseline", "p99_ms")};
    rows.push_back({QStringLiteral("1 Reply latency median (ms)"), lat_median[0], lat_median[1], lat_median[2], bare,
                    QStringLiteral("<= 1.1x same window"), lat_median[0].value <= 1.1 * lat_median[1].value, 3, true});
    rows.push_back({QStringLiteral("1 Reply latency p99 (ms)"), lat_p99[0], lat_p99[1], lat_p99[2], bare,
                    QStringLiteral("< 2 ms"), lat_p99[0].value < 2.0, 3, true});

    const auto per_second = rows_for([](const Poller& p) { return p.cadence_spread(&Cadence::per_second); });
    const auto interval = rows_for([](const Poller& p) { return p.cadence_spread(&Cadence::mean_interval_ms); });
    const auto deviation = rows_for([](const Poller& p) { return p.cadence_spread(&Cadence::p99_deviation_ms); });
    rows.push_back({QStringLiteral("2 Requests per second"), per_second[0], per_second[1], per_second[2], minimal_name,
                    QStringLiteral("5.00 +- 0.02"), std::fabs(per_second[0].value - 5.0) <= 0.02, 3, true});
    rows.push_back({QStringLiteral("2 Mean interval (ms)"), interval[0], interval[1], interval[2], minimal_name,
                    QStringLiteral("(200 +- 0.8)"), std::fabs(interval[0].value - 200.0) <= 0.8, 3, true});
    rows.push_back({QStringLiteral("2 p99 |interval - 200 ms| (ms)"), deviation[0], deviation[1], deviation[2],
                    minimal_name, QStringLiteral("< 5 ms"), deviation[0].value < 5.0, 3, true});

    const auto cpu = rows_for([](const Poller& p) { return median_of(p.cpu); });
    rows.push_back({QStringLiteral("3 CPU while polling (s / %1 s)").arg(options.window_s), cpu[0], cpu[1], cpu[2],
                    minimal_name, QStringLiteral("<= 1.2x same window"), cpu[0].value <= 1.2 * cpu[1].value, 3, true});

    const auto rss = rows_for([](const Poller& p) { return Spread {p.rss, not_measured, not_measured}; });
    rows.push_back({QStringLiteral("4 Peak resident memory (MiB)"), rss[0], rss[1], rss[2], minimal_name,
                    QStringLiteral("<= 1.05x same window"), rss[0].value <= 1.05 * rss[1].value, 1, false});

    const Spread start[3] = {median_of(startup[0]), median_of(startup[1]), median_of(startup[2])};
    rows.push_back({QStringLiteral("5 Start-up to first paint (ms)"), start[0], start[1], start[2], minimal_name,
                    QStringLiteral("<= 1.1x same window"), start[0].value <= 1.1 * start[1].value, 1, true});

    rows.push_back({QStringLiteral("6 CPU after unplugging (% core)"), program_unplug, same_unplug, naive_unplug,
                    QStringLiteral("naive QSerialPort"), QStringLiteral("< 1% of a core"), program_unplug.value < 1.0,
                    2, true});

    const auto wakeups = rows_for([](const Poller& p) {
        return Spread {p.wakeups_per_request, not_measured, not_measured};
    });
    rows.push_back({QStringLiteral("7 Wake-ups per request"), wakeups[0], wakeups[1], wakeups[2], minimal_name,
                    QStringLiteral("<= 4 and <= same window"),
                    wakeups[0].value <= 4.0 && wakeups[0].value <= wakeups[1].value, 2, false});
    rows.push_back({QStringLiteral("8 CPU, trend window open (s / %1 s)").arg(options.window_s),
                    Spread {trend_cpu, not_measured, not_measured}, Spread {},
                    Spread {without_trend_cpu, not_measured, not_measured}, QStringLiteral("window shut"),
                    QStringLiteral("<= 2x window shut"), trend_cpu <= 2.0 * without_trend_cpu, 3, false});
    add_mqtt_rows(rows, options.window_s);
    print_table(rows);
    std::fflush(stdout);

    std::printf("\nMachine: %s\n", qPrintable(machine));
    std::printf("Run: %.0f s; load average %s before, %s after; latency %d+%d+%d exchanges (%d without reply); "
                "%d CPU windows of %.3f s with %zu+%zu+%zu requests; wake-ups over %d s; start-up median of %d "
                "runs each\n",
                static_cast<double>(now_ns() - started) / 1e9, qPrintable(load_before), qPrintable(load_average()),
                static_cast<int>(latency.value(QStringLiteral("program_count"))),
                static_cast<int>(latency.value(QStringLiteral("same_window_count"))),
                static_cast<int>(latency.value(QStringLiteral("baseline_count"))),
                static_cast<int>(latency.value(QStringLiteral("timeouts"))), cpu_windows,
                static_cast<double>(window_length_ns) / 1e9 / cpu_windows, pollers[program].all_arrivals.size(),
                pollers[same].all_arrivals.size(), pollers[minimal].all_arrivals.size(), options.wakeup_s,
                options.startups);

    // The folder holds only this run's logs and, by now, no links.
    for (const QString& name : {QStringLiteral("pondara-bench-latency"), QStringLiteral("pondara-bench-app"),
                                QStringLiteral("pondara-bench-minimal"), QStringLiteral("pondara-bench-naive"),
                                QStringLiteral("pondara-bench-same-window"), QStringLiteral("strace")})
        QFile::remove(g_log_dir + QLatin1Char('/') + name + QStringLiteral(".log"));
    ::rmdir((g_log_dir + QStringLiteral("/pondara")).toLocal8Bit().constData());
    ::rmdir(runtime_dir);
    return 0;
}
