// pondara-bench-minimal: the smallest Qt Widgets program that does what the
// program does on the line: one window, and with --pty DEVICE a 200 ms timer
// that writes an 8-byte request to the device. It is the baseline for CPU,
// memory, start-up and polling cadence. The window has the main window's
// size, and the timer the same precise type as the main window's Timer1.
// --first-paint prints the time of the first painted frame and quits.
// SIGTERM, SIGINT and SIGHUP end it as they end the program.

#include "first_paint_probe.h"

#include "main_window/stop_signals.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    const bool first_paint = pondara::bench::has_flag(argc, argv, "--first-paint");
    const char* device = pondara::bench::option_value(argc, argv, "--pty");

    QApplication app(argc, argv);
    QWidget window;
    window.resize(388, 266);  // the main window's fixed size at 96 dpi
    pondara::bench::FirstPaintProbe probe;
    if (first_paint)
        window.installEventFilter(&probe);
    pondara::end_on_stop_signals(window);
    window.show();

    int fd = -1;
    QTimer timer;
    if (device) {
        fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            std::perror(device);
            return 1;
        }
        // A read-AD request for address 1: header, address, type, 4 data
        // bytes, checksum.
        static const unsigned char request[8] = {0x55, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x57};
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(200);
        QObject::connect(&timer, &QTimer::timeout, [fd] {
            if (::write(fd, request, sizeof request) < 0)
                std::perror("write");
        });
        timer.start();
    }
    const int status = QApplication::exec();
    if (fd >= 0)
        ::close(fd);
    return status;
}
