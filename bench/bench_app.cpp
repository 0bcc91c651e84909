// pondara-bench-app: a twin of the program's main() for the benchmarks.
//
// It builds what src/app/main.cpp builds (QApplication, its name, the
// message sink, MainForm on the real port factory, shown in the centre of
// the screen; not the --help and --version answers and the desktop file
// name, which cost nothing here) and adds one hook,
// chosen on the command line:
//   --first-paint  prints the time of the main window's first painted frame
//                  and quits (start-up figure);
//   --open         presses the open button once the event loop runs, as the
//                  operator would, so the window polls port 1 until it is
//                  terminated (polling, CPU, memory and unplug figures);
//                  SIGTERM ends it as it ends the program;
//   --port N       with --open: types N into the port number box first;
//   --trend        also opens the trend window with its 10-minute span, as
//                  Ctrl+T does (trend window figure);
//   --record DIR   records into DIR from the start, as the program's
//                  --record does (recording figure).
// main() itself has no such hooks; the twin's only extra work is an event
// filter or one queued call, which costs nothing measurable.

#include "first_paint_probe.h"

#include "main_window/main_form.h"
#include "main_window/stop_signals.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "ui/box_message_sink.h"
#include "ui/look.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
    const bool first_paint = pondara::bench::has_flag(argc, argv, "--first-paint");
    const bool open = pondara::bench::has_flag(argc, argv, "--open");
    const char* port = pondara::bench::option_value(argc, argv, "--port");
    const bool trend = pondara::bench::has_flag(argc, argv, "--trend");
    const char* record = pondara::bench::option_value(argc, argv, "--record");
    // The trend window's module, from this build tree.
    if (trend)
        qputenv("PONDARA_TREND_MODULE_DIR", PONDARA_BUILT_MODULE_DIR);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PondaraV6"));

    pondara::BoxMessageSink messages;
    pondara::MainForm main_form(pondara::make_port_factory(), messages,
                                [] { return pondara::PortResolver().mapping(); });
    pondara::bench::FirstPaintProbe probe;
    if (first_paint)
        main_form.installEventFilter(&probe);
    pondara::end_on_stop_signals(main_form);
    main_form.show();
    pondara::look::centre_on_screen(&main_form);
    if (open && port)
        main_form.findChild<QLineEdit*>(QStringLiteral("chuankou_num"))->setText(QString::fromLocal8Bit(port));
    if (record)
        main_form.start_recording(QString::fromLocal8Bit(record));
    if (open)
        QTimer::singleShot(0, &main_form, [&main_form] { main_form.open_comm_Click(); });
    if (trend) {
        QTimer::singleShot(0, &main_form, [&main_form] {
            main_form.show_trend();
            QComboBox* span = nullptr;
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->objectName() == QLatin1String("trend"))
                    span = window->findChild<QComboBox*>(QStringLiteral("span"));
            }
            if (!span || span->findText(QStringLiteral("10 分钟")) < 0) {
                std::fprintf(stderr, "pondara-bench-app: no trend window\n");
                QCoreApplication::exit(1);
                return;
            }
            span->setCurrentIndex(span->findText(QStringLiteral("10 分钟")));
        });
    }
    return QApplication::exec();
}
