// pondara-bench-naive: the naive way to poll with Qt 6.4's QSerialPort, as
// the baseline of the unplugging figure. It opens DEVICE at 9600 8N1, writes
// a read-AD request every 200 ms and reads whatever arrives, and takes no
// notice of errors. When the line hangs up, Qt reports the error on every
// event loop turn and keeps the descriptor in the loop, so this program
// spins. SIGTERM, SIGINT and SIGHUP end it cleanly, so that its lock file
// goes with it.

#include "platform/signal_pipe.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>

#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: pondara-bench-naive DEVICE\n", stderr);
        return 2;
    }
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    port.setBaudRate(QSerialPort::Baud9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(port.errorString()));
        return 1;
    }
    static const char request[8] = {0x55, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x57};
    QObject::connect(&port, &QSerialPort::readyRead, [&port] { port.readAll(); });
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&port] { port.write(request, sizeof request); });
    timer.start(200);
    const pondara::SignalPipe stop_signals({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&stop_signals, &pondara::SignalPipe::received, &app, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
