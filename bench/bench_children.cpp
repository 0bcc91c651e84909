#include "bench_children.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace pondara::bench {

namespace {

QString g_bin_dir;
QString g_log_dir;
std::vector<pid_t> g_children;  // started and not yet waited for

void forget_child(pid_t pid)
{
    g_children.erase(std::remove(g_children.begin(), g_children.end(), pid), g_children.end());
}

}  // namespace

void set_folders(const QString& bin, const QString& logs)
{
    g_bin_dir = bin;
    g_log_dir = logs;
}

const QString& log_dir() { return g_log_dir; }

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

PollCounter::PollCounter(const QString& strace, pid_t tid)
    : m_output(g_log_dir + QStringLiteral("/strace-%1.txt").arg(tid))
{
    m_strace = spawn(strace,
                     {QStringLiteral("-c"), QStringLiteral("-e"), QStringLiteral("trace=poll,ppoll"),
                      QStringLiteral("-o"), m_output, QStringLiteral("-p"), QString::number(tid)},
                     false);
}

std::optional<double> PollCounter::stop()
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

}  // namespace pondara::bench
