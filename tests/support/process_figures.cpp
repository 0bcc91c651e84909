#include "process_figures.h"

#include <QDir>
#include <QFile>

#include <cstddef>
#include <malloc.h>
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
    rusage usage {};
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

}  // namespace pondara::test
