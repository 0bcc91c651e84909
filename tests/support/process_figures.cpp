#include "process_figures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTimer>

#include <malloc.h>
#include <cstddef>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define PONDARA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PONDARA_UNDER_ASAN 1
#endif
#endif
#ifdef PONDARA_UNDER_ASAN
// From the sanitizer runtime (g++ installs no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace pondara::test {

#ifdef PONDARA_UNDER_ASAN
const bool ProcessFigures::under_asan = true;
const char* const ProcessFigures::checked_name = "heap";
#else
const bool ProcessFigures::under_asan = false;
const char* const ProcessFigures::checked_name = "RSS";
#endif

ProcessFigures ProcessFigures::now()
{
    ProcessFigures figures;
    // The listing opens one descriptor of its own, every time alike.
    figures.open_fds = static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (statm.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> fields = statm.readAll().split(' ');
        if (fields.size() > 1)
            figures.rss_bytes = fields.at(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
    }
#ifdef PONDARA_UNDER_ASAN
    figures.heap_bytes = static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    figures.heap_bytes = static_cast<long long>(mallinfo2().uordblks);
#endif
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    figures.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                          + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return figures;
}

QString ProcessFigures::describe() const
{
    return QStringLiteral("%1 fds, RSS %2 KiB, heap %3 KiB, CPU %4 s")
        .arg(open_fds)
        .arg(rss_bytes / 1024)
        .arg(heap_bytes / 1024)
        .arg(cpu_seconds, 0, 'f', 2);
}

bool run_until(const std::function<bool()>& done, int timeout_ms)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake;  // so that each wait below ends by the timeout at the latest
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!done()) {
        const qint64 left = timeout_ms - clock.elapsed();
        if (left <= 0)
            return false;
        wake.start(static_cast<int>(left));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void run_for(int ms)
{
    run_until([] { return false; }, ms);
}

namespace {

class SocketActivationCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::SockAct)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

int socket_activations_during(int ms)
{
    SocketActivationCounter counter;
    QCoreApplication::instance()->installEventFilter(&counter);
    run_for(ms);
    QCoreApplication::instance()->removeEventFilter(&counter);
    return counter.count;
}

}  // namespace pondara::test
