// pondara-bench: runs every benchmark of the program against its baseline
// and prints one table.
//
//   1. reply latency        pondara-bench-latency (MainForm vs bare QSerialPort)
//   2. polling cadence      request arrival times at the module side
//   3. CPU while polling    on-CPU time of each process over the window
//   4. memory               VmHWM (peak resident set) after the window
//   5. start-up             exec to first painted window, median of runs
//   6. after unplugging     CPU in the 5 s after the line is closed
//
// 2, 3 and 4 share one window in which the program (pondara-bench-app, a
// twin of main() that presses the open button) polls a simulated line and
// the minimal program (pondara-bench-minimal) writes to another, side by
// side. Every child runs with the offscreen platform and a private runtime
// folder, so the virtual ports are this run's own.
//
// Options: --long (or BENCH_LONG=1 in the environment) makes the window 600 s,
// the latency run 10000 exchanges per host and the start-up 45 runs;
// --window S, --exchanges N and --startups N set them one by one.

#include "bench_clock.h"
#include "bench_line.h"
#include "bench_stats.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
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
};

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

void say(const QString& text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// A child process of this run.
struct Child {
    pid_t pid = -1;
    int out = -1;  // its standard output, when captured
};

// Starts bin_dir/`program` with `args`; its standard error goes to a log
// file named after it, its standard output to a pipe or /dev/null.
Child spawn(const QString& program, const QStringList& args, bool capture)
{
    const QByteArray path = QFile::encodeName(g_bin_dir + QLatin1Char('/') + program);
    const QByteArray log = QFile::encodeName(g_log_dir + QLatin1Char('/') + program + QStringLiteral(".log"));
    std::vector<QByteArray> storage{path};
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

// Unplugs `line` and returns the CPU the process at its other end uses in
// the next `seconds`, in percent of one core.
double cpu_share_after_unplug(pid_t pid, bench::BenchLine& line, int seconds)
{
    const double cpu_before = cpu_seconds(pid);
    const std::int64_t unplugged = now_ns();
    line.unplug();
    run_for(seconds * 1000);
    const double elapsed = static_cast<double>(now_ns() - unplugged) / 1e9;
    return (cpu_seconds(pid) - cpu_before) / elapsed * 100.0;
}

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

QString read_text(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

QString load_average()
{
    return read_text("/proc/loadavg").section(QLatin1Char(' '), 0, 2);
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
            mem_gib = line.section(QLatin1Char(':'), 1).trimmed().section(QLatin1Char(' '), 0, 0).toDouble() / 1048576.0;
    }
    utsname name{};
    ::uname(&name);
    return QStringLiteral("%1, %2 cores, %3 GiB RAM, Linux %4, Debian %5, Qt %6, g++ %7 -O2 (Release), offscreen platform")
        .arg(model)
        .arg(::sysconf(_SC_NPROCESSORS_ONLN))
        .arg(mem_gib, 0, 'f', 0)
        .arg(QString::fromLatin1(name.release), read_text("/etc/debian_version").trimmed(),
             QString::fromLatin1(qVersion()), QStringLiteral(__VERSION__).section(QLatin1Char(' '), 0, 0));
}

struct Row {
    QString figure;
    double program;
    double baseline;
    QString baseline_name;
    QString target;
    bool ok;
    int decimals;
};

void print_table(const std::vector<Row>& rows)
{
    std::printf("\n%-34s %12s %12s %8s  %-20s %-26s %s\n", "Figure", "Program", "Baseline", "Ratio", "Baseline is",
                "Target", "Verdict");
    std::printf("%s\n", QByteArray(130, '-').constData());
    for (const Row& row : rows) {
        const QString ratio = row.baseline != 0.0 ? QString::number(row.program / row.baseline, 'f', 2) + QLatin1Char('x')
                                                  : QStringLiteral("-");
        std::printf("%-34s %12s %12s %8s  %-20s %-26s %s\n", qPrintable(row.figure),
                    qPrintable(QString::number(row.program, 'f', row.decimals)),
                    qPrintable(QString::number(row.baseline, 'f', row.decimals)), qPrintable(ratio),
                    qPrintable(row.baseline_name), qPrintable(row.target), row.ok ? "met" : "MISSED");
    }
}

int int_option(const QStringList& args, const QString& name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? std::max(1, args[at + 1].toInt()) : fallback;
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
    }
    options.window_s = int_option(args, QStringLiteral("--window"), options.window_s);
    options.exchanges = int_option(args, QStringLiteral("--exchanges"), options.exchanges);
    options.startups = int_option(args, QStringLiteral("--startups"), options.startups);

    const QString machine = machine_line();
    const QString load_before = load_average();
    const std::int64_t started = now_ns();
    std::vector<Row> rows;

    // 1. Reply latency.
    say(QStringLiteral("[1/5] reply latency: %1 exchanges per host").arg(options.exchanges));
    Child latency_run = spawn(QStringLiteral("pondara-bench-latency"),
                              {QStringLiteral("--exchanges"), QString::number(options.exchanges)}, true);
    const QMap<QString, double> latency = parse_values(finish(latency_run));
    if (latency.value(QStringLiteral("program_count")) < 1 || latency.value(QStringLiteral("baseline_count")) < 1)
        fail(QStringLiteral("the latency run measured nothing"));

    // 2, 3, 4 and the program's part of 6: the polling window.
    say(QStringLiteral("[2/5] polling window: %1 s, program and minimal program side by side").arg(options.window_s));
    QString error;
    bench::BenchLine program_line(1, true);
    bench::BenchLine minimal_line(2, false);
    if (!program_line.start(&error) || !minimal_line.start(&error))
        fail(error);
    Child program = spawn(QStringLiteral("pondara-bench-app"), {QStringLiteral("--open")}, false);
    Child minimal = spawn(QStringLiteral("pondara-bench-minimal"), {QStringLiteral("--pty"), minimal_line.device()}, false);
    if (!run_until([&] { return program_line.requests() > 0 && minimal_line.requests() > 0; }, 15000))
        fail(QStringLiteral("the program or the minimal program sent no request"));
    run_for(1000);  // past the start-up
    const double program_cpu_0 = cpu_seconds(program.pid);
    const double minimal_cpu_0 = cpu_seconds(minimal.pid);
    program_line.clear_arrivals();
    minimal_line.clear_arrivals();
    const std::int64_t window_start = now_ns();
    run_for(options.window_s * 1000);
    const double window_length = static_cast<double>(now_ns() - window_start) / 1e9;
    const double program_cpu = cpu_seconds(program.pid) - program_cpu_0;
    const double minimal_cpu = cpu_seconds(minimal.pid) - minimal_cpu_0;
    const double program_rss = peak_rss_mib(program.pid);
    const double minimal_rss = peak_rss_mib(minimal.pid);
    const Cadence program_cadence = cadence(program_line.arrivals());
    const Cadence minimal_cadence = cadence(minimal_line.arrivals());
    if (!running(program) || !running(minimal))
        fail(QStringLiteral("a polling process ended during the window"));
    terminate(minimal);
    minimal_line.unplug();

    say(QStringLiteral("[3/5] program after unplugging: %1 s").arg(options.unplug_s));
    const double program_unplug = cpu_share_after_unplug(program.pid, program_line, options.unplug_s);
    if (!running(program))
        fail(QStringLiteral("the program ended after the unplugging"));
    terminate(program);

    // The naive program's part of 6.
    say(QStringLiteral("[4/5] naive QSerialPort program after unplugging: %1 s").arg(options.unplug_s));
    bench::BenchLine naive_line(3, true);
    if (!naive_line.start(&error))
        fail(error);
    Child naive = spawn(QStringLiteral("pondara-bench-naive"), {naive_line.device()}, false);
    if (!run_until([&] { return naive_line.requests() >= 5; }, 15000))
        fail(QStringLiteral("the naive program sent no request"));
    const double naive_unplug = cpu_share_after_unplug(naive.pid, naive_line, options.unplug_s);
    terminate(naive);

    // 5. Start-up: the two programs in turn, after one unmeasured warm-up
    // run of each (it fills the file cache).
    say(QStringLiteral("[5/5] start-up: %1 runs each").arg(options.startups));
    std::vector<double> startup[2];
    const QString startup_programs[2] = {QStringLiteral("pondara-bench-app"), QStringLiteral("pondara-bench-minimal")};
    for (int run = 0; run <= options.startups; ++run) {
        for (int which = 0; which < 2; ++which) {
            const std::int64_t exec_time = now_ns();
            Child child = spawn(startup_programs[which], {QStringLiteral("--first-paint")}, true);
            const QMap<QString, double> values = parse_values(finish(child));
            if (!values.contains(QStringLiteral("first_paint_ns")))
                fail(QStringLiteral("%1 reported no first paint").arg(startup_programs[which]));
            if (run > 0)
                startup[which].push_back((values.value(QStringLiteral("first_paint_ns")) - static_cast<double>(exec_time)) / 1e6);
        }
    }
    const double program_startup = bench::median(startup[0]);
    const double minimal_startup = bench::median(startup[1]);

    // The table.
    const double latency_median = latency.value(QStringLiteral("program_median_ms"));
    const double latency_median_base = latency.value(QStringLiteral("baseline_median_ms"));
    const double latency_p99 = latency.value(QStringLiteral("program_p99_ms"));
    const double latency_p99_base = latency.value(QStringLiteral("baseline_p99_ms"));
    const QString bare = QStringLiteral("bare QSerialPort");
    const QString minimal_name = QStringLiteral("minimal program");
    rows.push_back({QStringLiteral("1 Reply latency median (ms)"), latency_median, latency_median_base, bare,
                    QStringLiteral("<= 1.2x baseline"), latency_median <= 1.2 * latency_median_base, 3});
    rows.push_back({QStringLiteral("1 Reply latency p99 (ms)"), latency_p99, latency_p99_base, bare,
                    QStringLiteral("< 2 ms"), latency_p99 < 2.0, 3});
    rows.push_back({QStringLiteral("2 Requests per second"), program_cadence.per_second, minimal_cadence.per_second,
                    minimal_name, QStringLiteral("5.00 +- 0.02"), std::fabs(program_cadence.per_second - 5.0) <= 0.02, 3});
    rows.push_back({QStringLiteral("2 Mean interval (ms)"), program_cadence.mean_interval_ms,
                    minimal_cadence.mean_interval_ms, minimal_name, QStringLiteral("(200 +- 0.8)"),
                    std::fabs(program_cadence.mean_interval_ms - 200.0) <= 0.8, 3});
    rows.push_back({QStringLiteral("2 p99 |interval - 200 ms| (ms)"), program_cadence.p99_deviation_ms,
                    minimal_cadence.p99_deviation_ms, minimal_name, QStringLiteral("< 5 ms"),
                    program_cadence.p99_deviation_ms < 5.0, 3});
    rows.push_back({QStringLiteral("3 CPU while polling (s / %1 s)").arg(options.window_s), program_cpu, minimal_cpu,
                    minimal_name, QStringLiteral("<= 1.2x baseline"), program_cpu <= 1.2 * minimal_cpu, 3});
    rows.push_back({QStringLiteral("4 Peak resident memory (MiB)"), program_rss, minimal_rss, minimal_name,
                    QStringLiteral("<= 1.15x baseline"), program_rss <= 1.15 * minimal_rss, 1});
    rows.push_back({QStringLiteral("5 Start-up to first paint (ms)"), program_startup, minimal_startup, minimal_name,
                    QStringLiteral("<= 1.2x baseline"), program_startup <= 1.2 * minimal_startup, 1});
    rows.push_back({QStringLiteral("6 CPU after unplugging (% core)"), program_unplug, naive_unplug,
                    QStringLiteral("naive QSerialPort"), QStringLiteral("< 1% of a core"), program_unplug < 1.0, 2});
    print_table(rows);
    std::fflush(stdout);

    std::printf("\nMachine: %s\n", qPrintable(machine));
    std::printf("Run: %.0f s; load average %s before, %s after; latency %d+%d exchanges (%d without reply); "
                "window %.3f s with %zu+%zu requests; start-up median of %d runs each\n",
                static_cast<double>(now_ns() - started) / 1e9, qPrintable(load_before), qPrintable(load_average()),
                static_cast<int>(latency.value(QStringLiteral("program_count"))),
                static_cast<int>(latency.value(QStringLiteral("baseline_count"))),
                static_cast<int>(latency.value(QStringLiteral("timeouts"))), window_length,
                program_cadence.requests, minimal_cadence.requests, options.startups);

    // The folder holds only this run's logs and, by now, no links.
    for (const QString& name : {QStringLiteral("pondara-bench-latency"), QStringLiteral("pondara-bench-app"),
                                QStringLiteral("pondara-bench-minimal"), QStringLiteral("pondara-bench-naive")})
        QFile::remove(g_log_dir + QLatin1Char('/') + name + QStringLiteral(".log"));
    ::rmdir((g_log_dir + QStringLiteral("/pondara")).toLocal8Bit().constData());
    ::rmdir(runtime_dir);
    return 0;
}
