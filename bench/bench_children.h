#pragma once

// The benchmark driver's children and what it reads of them: starting,
// reading, ending, their CPU time and peak memory from /proc, and waiting
// in the event loop meanwhile. A child that fails fails the run, which ends
// every child still running.

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <sys/types.h>

namespace pondara::bench {

// Where the children's programs are and where their logs go; set once,
// before the first child starts.
void set_folders(const QString& bin, const QString& logs);
const QString& log_dir();

// Ends the run: stops this run's children, says why and where the logs are.
[[noreturn]] void fail(const QString& why);
// A line on standard error, where the run's progress goes.
void say(const QString& text);

// A child process of this run.
struct Child {
    pid_t pid = -1;
    int out = -1;  // its standard output, when captured
};

// Starts bin_dir/`program` (or `program` itself, given as an absolute path)
// with `args`; its standard error goes to a log file named after it, its
// standard output to a pipe or /dev/null.
Child spawn(const QString& program, const QStringList& args, bool capture);
// Reads the child's standard output to its end and waits for it.
QByteArray finish(Child& child);
// Ends a child as `kill` does, with SIGTERM, and waits for it. Every child
// ends on it as the program does, closing its ports and with them their lock
// files, with status 0; anything else fails the run.
void terminate(Child& child);
bool running(Child& child);

// "name value" lines.
QMap<QString, double> parse_values(const QByteArray& text);

// CPU time the process has used so far, in seconds: the sum over its
// threads of the scheduler's on-CPU time (/proc/<pid>/task/*/schedstat, in
// ns). /proc/<pid>/stat counts in 10 ms ticks, too coarse for a process
// that works some microseconds per wake-up.
double cpu_seconds(pid_t pid);
// The peak resident set size so far, in MiB.
double peak_rss_mib(pid_t pid);

// Runs the event loop for `ms` (a precise timer: a coarse one, the default
// from 2 s on, may end a 60 s window 3 s early).
void run_for(int ms);
bool run_until(const std::function<bool()>& done, int timeout_ms);

// Counts the returns from poll() and ppoll() of one thread while it runs:
// strace -c attached to that thread alone (a thread id, without -f).
class PollCounter {
public:
    PollCounter(const QString& strace, pid_t tid);

    // Detaches (strace writes its summary on SIGINT) and returns the calls,
    // or nothing when strace could not attach (a thread that polls every
    // 200 ms has always made some).
    std::optional<double> stop();

private:
    QString m_output;
    Child m_strace;
};

}  // namespace pondara::bench
