// Every test executable ends Qt's pooled threads itself before it exits.
//
// The raster engine fills large areas on Qt's global thread pool, whose
// threads stay until the application object goes. Then they end detached,
// while the process exits, and a thread still unwinding when the leak
// checker looks holds the last reference to its thread data, which is then
// reported as leaked now and then. Ending them while the application is
// still there, and waiting until the system has none of them left, takes
// that race away.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QThreadPool>

namespace {

// Qt names its pool's threads so; the system shows the name while the thread
// lives.
constexpr char pooled_name[] = "Thread (pooled)\n";

bool pooled_threads_left()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        if (name.open(QIODevice::ReadOnly) && name.readAll() == pooled_name)
            return true;
    }
    return false;
}

void end_pooled_threads()
{
    QThreadPool::globalInstance()->waitForDone();
    const QDeadlineTimer deadline(5000);
    while (pooled_threads_left() && !deadline.hasExpired())
        QThread::msleep(1);
}

void at_start() { qAddPostRoutine(end_pooled_threads); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(at_start)
