// pondara-bench-app: the program for the benchmarks. It starts the program
// through the program's own start-up (run_program(), as src/app/main.cpp
// does, without the --help and --version answers and the desktop file name,
// which cost nothing here) and adds one hook, chosen on the command line:
//   --first-paint  prints the time of the main window's first painted frame
//                  and quits (start-up figure);
//   --open         presses the open button once the event loop runs, as the
//                  operator would, so the window polls port 1 until it is
//                  terminated (polling, CPU, memory and unplug figures);
//                  SIGTERM ends it as it ends the program;
//   --port N       with --open: types N into the port number box first;
//   --trend        also opens the trend window with its 10-minute span, as
//                  Ctrl+T does (trend window figure).
// The hooks' only extra work is an event filter or one queued call, which
// costs nothing measurable.

#include "first_paint_probe.h"

#include "main_window/main_form.h"
#include "main_window/start_up.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

namespace {

using pondara::MainForm;

// Types `port` (when given) into the port number box and presses the open
// button once the event loop runs.
void open_port(MainForm& main_form, const char* port)
{
    if (port)
        main_form.findChild<QLineEdit*>(QStringLiteral("chuankou_num"))->setText(QString::fromLocal8Bit(port));
    QTimer::singleShot(0, &main_form, [&main_form] { main_form.open_comm_Click(); });
}

// Opens the trend window once the event loop runs, and sets its span to 10
// minutes; ends the program with 1 when there is no such window.
void open_trend(MainForm& main_form)
{
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

}  // namespace

int main(int argc, char* argv[])
{
    const bool first_paint = pondara::bench::has_flag(argc, argv, "--first-paint");
    const bool open = pondara::bench::has_flag(argc, argv, "--open");
    const char* port = pondara::bench::option_value(argc, argv, "--port");
    const bool trend = pondara::bench::has_flag(argc, argv, "--trend");
    // The trend window's module, from this build tree.
    if (trend)
        qputenv("PONDARA_TREND_MODULE_DIR", PONDARA_BUILT_MODULE_DIR);

    QApplication app(argc, argv);
    pondara::bench::FirstPaintProbe probe;
    pondara::StartUpHooks hooks;
    if (first_paint)
        hooks.before_show = [&probe](MainForm& main_form) { main_form.installEventFilter(&probe); };
    hooks.after_show = [open, port, trend](MainForm& main_form) {
        if (open)
            open_port(main_form, port);
        if (trend)
            open_trend(main_form);
    };
    return pondara::run_program(hooks);
}
