// Renders each window of the program to a PNG: the main window polling a
// module (port 1 must be served, e.g. by pondara-sim) with a moving and a
// still load and after a zero that did not take, then every dialog. The
// simulator's standard input is the pipe PONDARA_SIM_INPUT names.
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
    main_form.show();
    if (!QTest::qWaitForWindowExposed(&main_form))
        std::fprintf(stderr, "warning: the main window was not exposed\n");
    main_form.open_comm_Click();

    // Wait for live values in both readouts.
    const auto* ad_now = main_form.findChild<QLineEdit*>(QStringLiteral("AD_now"));
    const auto* weight_now = main_form.findChild<QLineEdit*>(QStringLiteral("weight_now"));
    QElapsedTimer waited;
    waited.start();
    while ((ad_now->text() == QLatin1String("0") || weight_now->text() == QLatin1String("0"))
           && waited.elapsed() < 5000)
        QTest::qWait(50);
    if (ad_now->text() == QLatin1String("0"))
        std::fprintf(stderr, "warning: no live values after 5 s\n");

    // The drifting load: 波动.
    QTest::qWait(1500);
    bool ok = save(&main_form, dir + QStringLiteral("/main_form_moving.png"));

    // A top-level window by its object name.
    const auto window_named = [](const QString& name) -> QWidget* {
        const QWidgetList windows = QApplication::topLevelWidgets();
        const auto found
            = std::find_if(windows.begin(), windows.end(), [&](const QWidget* w) { return w->objectName() == name; });
        return found == windows.end() ? nullptr : *found;
    };

    // The trend window, opened as the operator does (Ctrl+T), after 20 s of
    // the simulator's drifting load: one full swing.
    main_form.activateWindow();
    if (!QTest::qWaitForWindowActive(&main_form))
        std::fprintf(stderr, "warning: the main window is not active\n");
    QTest::keyClick(&main_form, Qt::Key_T, Qt::ControlModifier);
    if (QWidget* trend = window_named(QStringLiteral("trend")); trend && QTest::qWaitForWindowExposed(trend)) {
        QTest::qWait(20000);
        ok = save(trend, dir + QStringLiteral("/trend.png")) && ok;
        trend->close();
    } else {
        std::fprintf(stderr, "no trend window\n");
        ok = false;
    }

    // The load at rest: 稳定.
    tell_sim("drift off");
    QTest::qWait(2000);
    ok = save(&main_form, dir + QStringLiteral("/main_form.png")) && ok;

    // Each dialog, opened by its button on the main window.
    const auto shoot = [&](const char* button, const QString& name) -> QWidget* {
        QTest::mouseClick(main_form.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
        QWidget* window = window_named(name);
        if (!window || !QTest::qWaitForWindowExposed(window)) {
            std::fprintf(stderr, "no window for %s\n", button);
            ok = false;
            return nullptr;
        }
        QTest::qWait(200);
        ok = save(window, dir + QStringLiteral("/") + name + QStringLiteral(".png")) && ok;
        return window;
    };
    if (QWidget* biaoding = shoot("biaoding_command", QStringLiteral("biaoding")))
        biaoding->close();

    // A zero the module acknowledges without taking, 37 on the scale.
    tell_sim("load 37");
    tell_sim("fault fakezero");
    QTest::qWait(2000);
    QTest::mouseClick(main_form.findChild<QPushButton*>(QStringLiteral("clr_command")), Qt::LeftButton);
    QTest::qWait(3000);
    ok = save(&main_form, dir + QStringLiteral("/main_form_zero_failed.png")) && ok;
    tell_sim("fault none");
    tell_sim("load 1234");
    if (QWidget* canshu = shoot("Command1", QStringLiteral("canshu"))) {
        // Read both settings so the boxes show the module's values.
        QTest::mouseClick(canshu->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
        QTest::qWait(150);
        QTest::mouseClick(canshu->findChild<QPushButton*>(QStringLiteral("Command3")), Qt::LeftButton);
        QTest::qWait(150);
        ok = save(canshu, dir + QStringLiteral("/canshu.png")) && ok;

        // A module that does not answer: the address of none on the line.
        main_form.findChild<QLineEdit*>(QStringLiteral("add"))->setText(QStringLiteral("2"));
        QTest::mouseClick(canshu->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
        QTest::qWait(700);
        ok = save(canshu, dir + QStringLiteral("/canshu_no_reply.png")) && ok;
        canshu->close();
        QTest::qWait(1500);
        ok = save(&main_form, dir + QStringLiteral("/main_form_no_reply.png")) && ok;
        main_form.findChild<QLineEdit*>(QStringLiteral("add"))->setText(QStringLiteral("1"));
    }
    shoot("help_command", QStringLiteral("help"));
    return ok ? 0 : 1;
}
