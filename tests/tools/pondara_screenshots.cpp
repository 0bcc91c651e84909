// Renders each window of the program to a PNG: the main window polling a
// module (port 1 must be served, e.g. by pondara-sim) with a moving and a
// still load and after a zero that did not take, then every dialog, and the
// scan window with the modules it found. The simulator's standard input is
// the pipe PONDARA_SIM_INPUT names.
// Usage: pondara-screenshots DIR

#include "main_window/main_form.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "ui/message_sink.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

class PrintingSink final : public pondara::MessageSink {
public:
    void post(QWidget*, const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
};

// One command to the simulator, when its input is known.
void tell_sim(const char* command)
{
    QFile input(qEnvironmentVariable("PONDARA_SIM_INPUT"));
    if (input.fileName().isEmpty() || !input.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        std::fprintf(stderr, "warning: cannot tell the simulator \"%s\"\n", command);
        return;
    }
    input.write(command);
    input.write("\n");
}

bool save(QWidget* window, const QString& path)
{
    const bool ok = window->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

// A top-level window by its object name.
QWidget* window_named(const QString& name)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    const auto found
        = std::find_if(windows.begin(), windows.end(), [&](const QWidget* w) { return w->objectName() == name; });
    return found == windows.end() ? nullptr : *found;
}

// The window `name` once it is on screen; null, said on standard error,
// when it does not come.
QWidget* opened_window(const QString& name)
{
    QWidget* window = window_named(name);
    if (!window || !QTest::qWaitForWindowExposed(window)) {
        std::fprintf(stderr, "no %s window\n", qPrintable(name));
        return nullptr;
    }
    return window;
}

// Shows the main window, opens its port and waits for live values in both
// readouts.
void open_main_window(pondara::MainForm& main_form)
{
    main_form.show();
    if (!QTest::qWaitForWindowExposed(&main_form))
        std::fprintf(stderr, "warning: the main window was not exposed\n");
    main_form.open_comm_Click();
    const auto* ad_now = main_form.findChild<QLineEdit*>(QStringLiteral("AD_now"));
    const auto* weight_now = main_form.findChild<QLineEdit*>(QStringLiteral("weight_now"));
    QElapsedTimer waited;
    waited.start();
    while ((ad_now->text() == QLatin1String("0") || weight_now->text() == QLatin1String("0"))
           && waited.elapsed() < 5000)
        QTest::qWait(50);
    if (ad_now->text() == QLatin1String("0"))
        std::fprintf(stderr, "warning: no live values after 5 s\n");
}

// Ctrl+`key` on the main window, as the operator presses it.
void press_on_main_window(pondara::MainForm& main_form, Qt::Key key)
{
    main_form.activateWindow();
    if (!QTest::qWaitForWindowActive(&main_form))
        std::fprintf(stderr, "warning: the main window is not active\n");
    QTest::keyClick(&main_form, key, Qt::ControlModifier);
}

// The trend window, opened as the operator does (Ctrl+T), after 20 s of the
// simulator's drifting load: one full swing.
bool shoot_trend(pondara::MainForm& main_form, const QString& dir)
{
    press_on_main_window(main_form, Qt::Key_T);
    QWidget* trend = opened_window(QStringLiteral("trend"));
    if (!trend)
        return false;
    QTest::qWait(20000);
    const bool ok = save(trend, dir + QStringLiteral("/trend.png"));
    trend->close();
    return ok;
}

// The dialog `name`, opened by its `button` on the main window; null when
// it did not open.
QWidget* shoot_dialog(pondara::MainForm& main_form, const char* button, const QString& name, const QString& dir,
                      bool& ok)
{
    QTest::mouseClick(main_form.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
    QWidget* window = opened_window(name);
    if (!window) {
        ok = false;
        return nullptr;
    }
    QTest::qWait(200);
    ok = save(window, dir + QStringLiteral("/") + name + QStringLiteral(".png")) && ok;
    return window;
}

// The parameters dialog with both settings read from the module, then
// asking a module that does not answer (the address of none on the line),
// then the main window after it.
bool shoot_canshu_states(pondara::MainForm& main_form, QWidget* canshu, const QString& dir)
{
    QTest::mouseClick(canshu->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    QTest::qWait(150);
    QTest::mouseClick(canshu->findChild<QPushButton*>(QStringLiteral("Command3")), Qt::LeftButton);
    QTest::qWait(150);
    bool ok = save(canshu, dir + QStringLiteral("/canshu.png"));

    main_form.findChild<QLineEdit*>(QStringLiteral("add"))->setText(QStringLiteral("2"));
    QTest::mouseClick(canshu->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    QTest::qWait(700);
    ok = save(canshu, dir + QStringLiteral("/canshu_no_reply.png")) && ok;
    canshu->close();
    QTest::qWait(1500);
    ok = save(&main_form, dir + QStringLiteral("/main_form_no_reply.png")) && ok;
    main_form.findChild<QLineEdit*>(QStringLiteral("add"))->setText(QStringLiteral("1"));
    return ok;
}

// A zero the module acknowledges without taking, 37 on the scale: the
// status line says so.
bool shoot_failed_zero(pondara::MainForm& main_form, const QString& dir)
{
    tell_sim("load 37");
    tell_sim("fault fakezero");
    QTest::qWait(2000);
    QTest::mouseClick(main_form.findChild<QPushButton*>(QStringLiteral("clr_command")), Qt::LeftButton);
    QTest::qWait(3000);
    const bool ok = save(&main_form, dir + QStringLiteral("/main_form_zero_failed.png"));
    tell_sim("fault none");
    tell_sim("load 1234");
    return ok;
}

// The scan window, opened as the operator does (Ctrl+F), after a scan of
// every address of port 1: the modules of the simulated bus.
bool shoot_scan(pondara::MainForm& main_form, const QString& dir)
{
    press_on_main_window(main_form, Qt::Key_F);
    QWidget* scan = opened_window(QStringLiteral("scan"));
    if (!scan)
        return false;
    auto* start = scan->findChild<QPushButton*>(QStringLiteral("start"));
    QTest::mouseClick(start, Qt::LeftButton);
    QElapsedTimer scanning;
    scanning.start();
    while (!start->isEnabled() && scanning.elapsed() < 30000)
        QTest::qWait(100);
    QTest::qWait(200);
    const bool ok = save(scan, dir + QStringLiteral("/scan.png"));
    scan->close();
    return ok;
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);

    PrintingSink messages;
    pondara::MainForm main_form(pondara::make_port_factory(), messages,
                                [] { return pondara::PortResolver().mapping(); });
    open_main_window(main_form);
    // The drifting load: 波动.
    QTest::qWait(1500);
    bool ok = save(&main_form, dir + QStringLiteral("/main_form_moving.png"));
    ok = shoot_trend(main_form, dir) && ok;
    // The load at rest: 稳定.
    tell_sim("drift off");
    QTest::qWait(2000);
    ok = save(&main_form, dir + QStringLiteral("/main_form.png")) && ok;
    if (QWidget* biaoding = shoot_dialog(main_form, "biaoding_command", QStringLiteral("biaoding"), dir, ok))
        biaoding->close();
    ok = shoot_failed_zero(main_form, dir) && ok;
    if (QWidget* canshu = shoot_dialog(main_form, "Command1", QStringLiteral("canshu"), dir, ok))
        ok = shoot_canshu_states(main_form, canshu, dir) && ok;
    ok = shoot_scan(main_form, dir) && ok;
    shoot_dialog(main_form, "help_command", QStringLiteral("help"), dir, ok);
    return ok ? 0 : 1;
}
