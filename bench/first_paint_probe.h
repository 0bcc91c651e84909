#pragma once

#include "bench_clock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cinttypes>
#include <cstdio>
#include <string_view>

namespace pondara::bench {

// Watches a window for its first Paint event. The window and its children
// are painted and flushed to the platform in one pass of the event loop, so
// the time is taken from a zero timer queued at that first Paint: it runs
// right after that pass. The time (CLOCK_MONOTONIC, ns) goes to standard
// output and the application quits.
class FirstPaintProbe : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, [] {
                std::printf("first_paint_ns %" PRId64 "\n", now_ns());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

// True when `flag` is one of the arguments.
inline bool has_flag(int argc, char** argv, const char* flag)
{
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == flag)
            return true;
    }
    return false;
}

// The argument after `option`, or nullptr.
inline const char* option_value(int argc, char** argv, const char* option)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string_view(argv[i]) == option)
            return argv[i + 1];
    }
    return nullptr;
}

}  // namespace pondara::bench
