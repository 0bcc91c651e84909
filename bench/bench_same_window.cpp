// pondara-bench-same-window: the same-window baseline (same_window.h) as a
// program of its own, started like the program: with --pty DEVICE it opens
// the device at 9600 8N1 and polls it every 200 ms until it is terminated
// (cadence, CPU, memory and wake-up figures); --first-paint prints the time
// of the first painted frame and quits (start-up figure). SIGTERM, SIGINT
// and SIGHUP end it as they end the program, with the program's own watcher:
// the one part it takes from the program, harness rather than window.

#include "first_paint_probe.h"
#include "same_window.h"

#include "main_window/stop_signals.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    const bool first_paint = pondara::bench::has_flag(argc, argv, "--first-paint");
    const char* device = pondara::bench::option_value(argc, argv, "--pty");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PondaraV6"));

    pondara::bench::SameWindow window;
    pondara::bench::FirstPaintProbe probe;
    if (first_paint)
        window.installEventFilter(&probe);
    pondara::end_on_stop_signals(window);
    window.show_centred();
    if (device && !window.open(QString::fromLocal8Bit(device))) {
        std::fprintf(stderr, "%s: %s\n", device, qPrintable(window.port.errorString()));
        return 1;
    }
    return QApplication::exec();
}
