// Losing the device and getting it back, many times over, with the real
// serial port and the simulated module on a pseudo-terminal: the main window
// while it polls, and the parameters dialog while it holds the device. Each
// loss gives exactly one message, each return works, and the process ends
// with the descriptors and memory it started with, without spinning. Also
// the refusal, at the window, of port links that lead to no device.

#include "file_touches.h"
#include "main_window/main_form.h"
#include "platform/virtual_port.h"
#include "port_tap.h"
#include "process_figures.h"
#include "recording_sink.h"
#include "run_until.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "sim_line.h"
#include "virtual_port_links.h"
#include "window_peer.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace pondara;
using pondara::sim::SimLine;
using pondara::test::ProcessFigures;
using pondara::test::run_until;

namespace {

// Beyond the machine's own serial ports, so that the number leads nowhere
// while the module is unplugged.
constexpr int sim_port = 7;
constexpr int cycles = 50;
// Memory may grow this much over all cycles after the first.
constexpr long long memory_slack = 1024 * 1024;
// Socket wake-ups allowed in half a second: polling wakes the loop about once
// per received byte (8 a reply, 2.5 replies); a notifier left on a hung-up or
// unread descriptor wakes it without pause, thousands of times.
constexpr int idle_wakeups = 100;

QString ad_for(int load) { return QString::number(0x080000 + 8 * load); }

}  // namespace

class TestDeviceLoss : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lose_and_get_back_data();
    void lose_and_get_back();
    void refuses_what_is_no_device_data();
    void refuses_what_is_no_device();

private:
    QLineEdit* box(QWidget* w, const char* name) const { return w->findChild<QLineEdit*>(name); }
    QString caption() const { return m_form->findChild<QPushButton*>("open_comm")->text(); }
    // Polls until the main window shows the AD value and weight of `load`.
    bool main_window_shows(int load) const;
    // One cycle of each kind; false (with the test failed) on the first
    // thing that went wrong.
    bool main_window_cycle(int cycle);
    bool dialog_cycle(int cycle);
    bool one_loss_message(const QString& origin) const;
    // While the device is away, nothing polls or reads: the process idles.
    static void check_idle_while_away(int cycle);

    PortObject* main_port() const { return m_ports.first(); }
    static QWidget* canshu() { return test::open_window("canshu"); }

    std::unique_ptr<SimLine> m_line;
    test::PortTap m_ports {make_port_factory()};
    test::RecordingSink m_sink;
    std::unique_ptr<MainForm> m_form;
};

void TestDeviceLoss::init()
{
    m_line = std::make_unique<SimLine>(sim_port);
    m_line->module().set_noise(false);
    m_line->set_pacing(false);
    QString error;
    QVERIFY2(m_line->start(&error), qPrintable(error));
    m_sink.clear();
    m_ports = test::PortTap(make_port_factory());
    m_form = std::make_unique<MainForm>(m_ports.factory(), m_sink, [] { return PortResolver().mapping(); });
    box(m_form.get(), "chuankou_num")->setText(QString::number(sim_port));
    m_form->show();
}

void TestDeviceLoss::cleanup()
{
    m_form.reset();
    m_line.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QDir(virtual_port_dir()).removeRecursively();
}

bool TestDeviceLoss::main_window_shows(int load) const
{
    // The window's own timer polls too; these ticks only make it quicker.
    QLineEdit* ad = box(m_form.get(), "AD_now");
    QLineEdit* weight = box(m_form.get(), "weight_now");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) {
        m_form->poll_tick();
        if (run_until([&] { return ad->text() == ad_for(load) && weight->text() == QString::number(load); }, 20))
            return true;
    }
    return false;
}

bool TestDeviceLoss::one_loss_message(const QString& origin) const
{
    if (!run_until([this] { return !m_sink.messages().isEmpty(); }, 3000))
        return false;
    // Nothing more comes of the same loss.
    test::run_for(20);
    return m_sink.messages().size() == 1 && m_sink.messages().first().origin == origin
           && m_sink.messages().first().text.contains(QStringLiteral("错误 8020"));
}

void TestDeviceLoss::check_idle_while_away(int cycle)
{
    if (cycle != 1)
        return;
    const int wakeups = test::socket_activations_during(300);
    QVERIFY2(wakeups <= idle_wakeups,
             qPrintable(QStringLiteral("%1 socket wake-ups in 0.3 s while the device was away").arg(wakeups)));
}

bool TestDeviceLoss::main_window_cycle(int cycle)
{
    const int load = 100 + cycle;
    m_line->module().set_load(load);
    [&] { QVERIFY2(main_window_shows(load), qPrintable(QStringLiteral("cycle %1: no values").arg(cycle))); }();
    if (QTest::currentTestFailed())
        return false;

    m_line->unplug();
    [&] {
        QVERIFY2(one_loss_message(QStringLiteral("main_form")),
                 qPrintable(QStringLiteral("cycle %1: ").arg(cycle) + m_sink.texts().join(" | ")));
        QVERIFY(!main_port()->portOpen());
        QCOMPARE(caption(), QStringLiteral("打开串口"));
        m_form->poll_tick();  // closed: no message, nothing sent
        check_idle_while_away(cycle);
        QCOMPARE(m_sink.messages().size(), 1);
    }();
    if (QTest::currentTestFailed())
        return false;

    m_sink.clear();
    QString error;
    [&] {
        QVERIFY2(m_line->replug(&error), qPrintable(error));
        m_form->open_comm_Click();
        QVERIFY2(m_sink.messages().isEmpty(), qPrintable(m_sink.texts().join(" | ")));
        QVERIFY(main_port()->portOpen());
        QCOMPARE(caption(), QStringLiteral("关闭串口"));
    }();
    return !QTest::currentTestFailed();
}

bool TestDeviceLoss::dialog_cycle(int cycle)
{
    const int load = 300 + cycle;
    const QString period = QString::number(1 + cycle % 15);
    [&] {
        QTest::mouseClick(m_form->findChild<QPushButton*>("Command1"), Qt::LeftButton);
        QWidget* dialog = canshu();
        QVERIFY2(dialog, qPrintable(m_sink.texts().join(" | ")));
        QVERIFY(!main_port()->portOpen());
        QVERIFY(m_ports.last()->portOpen());
        // Write a period and wait for its echo in the emptied box, empty it
        // again, read it back.
        QLineEdit* zhouqi = box(dialog, "zhouqi");
        zhouqi->setText(period);
        QTest::mouseClick(dialog->findChild<QPushButton*>("Command2"), Qt::LeftButton);
        zhouqi->clear();
        QVERIFY(run_until([&] { return zhouqi->text() == period; }, 3000));
        zhouqi->clear();
        QTest::mouseClick(dialog->findChild<QPushButton*>("Command1"), Qt::LeftButton);
        QVERIFY(run_until([&] { return zhouqi->text() == period; }, 3000));
        QVERIFY(m_sink.messages().isEmpty());
    }();
    if (QTest::currentTestFailed())
        return false;

    m_line->unplug();
    [&] {
        QVERIFY2(one_loss_message(QStringLiteral("canshu")),
                 qPrintable(QStringLiteral("cycle %1: ").arg(cycle) + m_sink.texts().join(" | ")));
        QVERIFY(!m_ports.last()->portOpen());
        check_idle_while_away(cycle);
        QCOMPARE(m_sink.messages().size(), 1);
    }();
    if (QTest::currentTestFailed())
        return false;

    m_sink.clear();
    [&] {
        QString error;
        QVERIFY2(m_line->replug(&error), qPrintable(error));
        // Closing the dialog hands the device back: the main window polls
        // again.
        canshu()->close();
        QVERIFY(run_until([] { return !canshu(); }, 3000));
        QVERIFY2(m_sink.messages().isEmpty(), qPrintable(m_sink.texts().join(" | ")));
        QVERIFY(main_port()->portOpen());
        QCOMPARE(caption(), QStringLiteral("关闭串口"));
        m_line->module().set_load(load);
        QVERIFY2(main_window_shows(load), qPrintable(QStringLiteral("cycle %1: no values after hand-back").arg(cycle)));
    }();
    return !QTest::currentTestFailed();
}

void TestDeviceLoss::lose_and_get_back_data()
{
    QTest::addColumn<bool>("dialog");
    QTest::newRow("main window polling") << false;
    QTest::newRow("parameters dialog holding the device") << true;
}

void TestDeviceLoss::lose_and_get_back()
{
    QFETCH(bool, dialog);

    m_form->open_comm_Click();
    QVERIFY(main_port()->portOpen());
    const auto cycle = [&](int n) { return dialog ? dialog_cycle(n) : main_window_cycle(n); };

    // The first cycle warms up what is made once (fonts, lock folder, the
    // dialog's widgets); the figures are taken after it.
    QVERIFY(cycle(0));
    const ProcessFigures before = ProcessFigures::now();
    QElapsedTimer wall;
    wall.start();
    for (int n = 1; n <= cycles; ++n)
        QVERIFY(cycle(n));
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    const ProcessFigures after = ProcessFigures::now();
    const double cpu = after.cpu_seconds - before.cpu_seconds;
    qInfo("%d cycles in %.2f s: before %s; after %s; CPU %.2f s (%.0f%% of the time)", cycles, seconds,
          qPrintable(before.describe()), qPrintable(after.describe()), cpu, 100.0 * cpu / seconds);

    QCOMPARE(after.open_fds, before.open_fds);
    const long long growth = after.checked_bytes() - before.checked_bytes();
    QVERIFY2(growth < memory_slack,
             qPrintable(QStringLiteral("%1 grew by %2 KiB").arg(ProcessFigures::checked_name).arg(growth / 1024)));
    // Nothing left spinning: idle for half a second with the port open and
    // the window's timer polling, the process uses next to no CPU.
    const int idle = test::socket_activations_during(500);
    QVERIFY2(idle <= idle_wakeups, qPrintable(QStringLiteral("%1 socket wake-ups in 0.5 s of polling").arg(idle)));
    QCOMPARE(m_sink.messages().size(), 0);
}

void TestDeviceLoss::refuses_what_is_no_device_data()
{
    QTest::addColumn<QString>("target");  // what the port's link leads to
    QTest::addColumn<bool>("dialog");  // opened by 设置 rather than 打开串口

    for (const bool dialog : {false, true}) {
        const char* window = dialog ? "parameters dialog" : "main window";
        QTest::addRow("%s: regular file", window) << "file" << dialog;
        QTest::addRow("%s: folder", window) << "folder" << dialog;
        QTest::addRow("%s: dangling link", window) << "missing" << dialog;
    }
}

void TestDeviceLoss::refuses_what_is_no_device()
{
    QFETCH(QString, target);
    QFETCH(bool, dialog);

    m_line->stop();
    QTemporaryDir dir;
    const QByteArray content("untouched");
    QFile file(dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    const QDateTime modified = QFileInfo(file).lastModified();
    QVERIFY(QDir().mkpath(dir.filePath("folder")));
    const QString path = dir.filePath(target);
    QVERIFY(test::publish_virtual_port(sim_port, path));
    test::Touches touches;
    QVERIFY(touches.watch(dir.path()));
    QVERIFY(touches.watch(dir.filePath("folder")));

    if (dialog)
        QTest::mouseClick(m_form->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    else
        QTest::mouseClick(m_form->findChild<QPushButton*>("open_comm"), Qt::LeftButton);
    for (int i = 0; i < 3; ++i)
        m_form->poll_tick();
    test::run_for(20);

    QCOMPARE(m_sink.messages().size(), 1);
    const QString message = m_sink.messages().first().text;
    QVERIFY2(message.startsWith(QStringLiteral("错误 8003：")), qPrintable(message));
    const QString shown = target == "missing" ? virtual_port_link(sim_port) : QFileInfo(path).canonicalFilePath();
    QVERIFY2(message.contains(shown), qPrintable(shown + " not in: " + message));
    QVERIFY(!main_port()->portOpen());
    QCOMPARE(caption(), QStringLiteral("打开串口"));
    QVERIFY(!canshu());

    QCOMPARE(touches.events(), QStringList());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
    QCOMPARE(QFileInfo(file).lastModified(), modified);
    QVERIFY(QDir(dir.filePath("folder")).isEmpty());
    QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
}

int main(int argc, char* argv[])
{
    // Virtual ports go to a runtime folder of this run only.
    const QTemporaryDir runtime;
    if (!test::use_runtime_dir(runtime))
        return 1;
    QApplication app(argc, argv);
    TestDeviceLoss test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_device_loss.moc"
