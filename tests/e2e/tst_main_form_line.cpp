// The main window and the parameters dialog on real serial ports, with the
// simulated module on a pseudo-terminal: requests on the wire byte for byte,
// each way a reply can go wrong on the line, losing the device, exclusive
// opening, the hand-over of the device to the dialog and back, and the end of
// a polling program by a signal.

#include "hex.h"
#include "lock_folder.h"
#include "main_window/main_form.h"
#include "main_window/stop_signals.h"
#include "main_window/weighing_watch.h"
#include "platform/signal_pipe.h"
#include "port_tap.h"
#include "recording_rows.h"
#include "recording_sink.h"
#include "run_until.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "serial/qt_port_object.h"
#include "sim_line.h"
#include "ui/box_message_sink.h"
#include "virtual_port_links.h"
#include "window_peer.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>

using namespace pondara;
using pondara::sim::Fault;
using pondara::sim::SimLine;
using pondara::test::spaced_hex;

Q_DECLARE_METATYPE(pondara::sim::Fault)

namespace {

// The raw AD value and weight the module reports for a load, with noise off
// and before any zeroing or calibration: 0x080000 + 8 per unit, and the load.
QString ad_for(int load) { return QString::number(0x080000 + 8 * load); }
QString weight_for(int load) { return QString::number(load); }

// Long enough for a paced reply (8.3 ms), the split's 20 ms gap and the
// noise 50 ms after a reply, short of the 200 ms tick.
constexpr int exchange_ms = 120;

constexpr int sim_port = 9;

// Set in the environment of a child that runs as the program does: the main
// window on the port numbered by the variable, opened, until a stop signal.
const char* const program_variable = "PONDARA_PROGRAM_PORT";

int run_program(const QString& port_number)
{
    BoxMessageSink messages;
    MainForm main_form(make_port_factory(), messages, [] { return PortResolver().mapping(); });
    main_form.findChild<QLineEdit*>("chuankou_num")->setText(port_number);
    end_on_stop_signals(main_form);
    main_form.show();
    main_form.open_comm_Click();
    return QApplication::exec();
}

}  // namespace

class TestMainFormLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void requests_on_the_wire();
    void line_faults_data();
    void line_faults();
    void other_address_gets_no_reply();
    void unplug_and_back();
    void exclusive_opening();
    void hand_over_to_parameters_dialog();
    void traffic_of_a_fixed_session();
    void link_indicator();
    void stability_through_a_load_step();
    void check_of_zero_and_calibration_data();
    void check_of_zero_and_calibration();
    void parameters_dialog_status();
    void stop_signal_data();
    void stop_signal();
    void stop_signal_handlers_data();
    void stop_signal_handlers();

private:
    QLineEdit* box(QWidget* w, const char* name) const { return w->findChild<QLineEdit*>(name); }
    QString caption() const { return m_form->findChild<QPushButton*>("open_comm")->text(); }
    // One tick, then the time a reply needs to arrive in full.
    void exchange() const
    {
        m_form->poll_tick();
        QTest::qWait(exchange_ms);
    }

    PortObject* main_port() const { return m_ports.first(); }
    QString label_text(QWidget* w, const char* name) const
    {
        auto* label = w->findChild<QLabel*>(name);
        return label->accessibleName() == label->text() ? label->text() : QStringLiteral("(name differs)");
    }

    QTemporaryDir m_runtime;
    std::unique_ptr<SimLine> m_line;
    test::PortTap m_ports {make_port_factory()};
    test::RecordingSink m_sink;
    std::unique_ptr<MainForm> m_form;
    QByteArray m_wire;  // every byte the program wrote
};

void TestMainFormLine::initTestCase() { QVERIFY(test::use_runtime_dir(m_runtime)); }

void TestMainFormLine::init()
{
    // A number beyond the machine's own serial ports, so that it leads
    // nowhere while the module is unplugged.
    m_line = std::make_unique<SimLine>(sim_port);
    m_line->module().set_noise(false);
    m_line->module().set_load(1000);
    QString error;
    QVERIFY2(m_line->start(&error), qPrintable(error));
    m_wire.clear();
    connect(m_line.get(), &SimLine::bytes_received, this, [this](const QByteArray& bytes) { m_wire += bytes; });
    m_sink.clear();
    m_ports = test::PortTap(make_port_factory());
    m_form = std::make_unique<MainForm>(m_ports.factory(), m_sink, [] { return PortResolver().mapping(); });
    // The tests drive the ticks themselves.
    m_form->findChild<QTimer*>("Timer1")->stop();
    box(m_form.get(), "chuankou_num")->setText(QString::number(sim_port));
    m_form->show();
}

void TestMainFormLine::cleanup()
{
    m_form.reset();
    m_line.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestMainFormLine::requests_on_the_wire()
{
    m_form->open_comm_Click();
    QCOMPARE(caption(), QStringLiteral("关闭串口"));
    QCOMPARE(main_port()->deviceName(), QFileInfo(m_line->device_path()).canonicalFilePath());

    exchange();
    QCOMPARE(spaced_hex(m_wire), QStringLiteral("55 01 01 00 00 00 00 57"));
    QCOMPARE(box(m_form.get(), "AD_now")->text(), ad_for(1000));
    exchange();
    QCOMPARE(spaced_hex(m_wire.mid(8)), QStringLiteral("55 01 02 00 00 00 00 58"));
    QCOMPARE(box(m_form.get(), "weight_now")->text(), weight_for(1000));

    QTest::mouseClick(m_form->findChild<QPushButton*>("clr_command"), Qt::LeftButton);
    exchange();
    QCOMPARE(spaced_hex(m_wire.mid(16)), QStringLiteral("55 01 03 00 00 00 00 59"));
    QCOMPARE(m_sink.texts(), QStringList {QStringLiteral("零点设置成功")});
    exchange();
    QCOMPARE(spaced_hex(m_wire.mid(24)), QStringLiteral("55 01 01 00 00 00 00 57"));

    // The address is read afresh for every packet.
    box(m_form.get(), "add")->setText("257");
    exchange();
    QCOMPARE(spaced_hex(m_wire.mid(32)), QStringLiteral("55 01 02 00 00 00 00 58"));
    QCOMPARE(m_wire.size(), 40);

    // The window's own timer polls at 200 ms, one packet a tick, counted in
    // ticks so that a slow machine cannot make it fail.
    auto* timer = m_form->findChild<QTimer*>("Timer1");
    QCOMPARE(timer->interval(), 200);
    QSignalSpy ticks(timer, &QTimer::timeout);
    timer->start();
    QVERIFY(test::run_until([&] { return ticks.size() >= 5; }, 10000));
    timer->stop();
    const qsizetype polled = 40 + 8 * ticks.size();
    QVERIFY(test::run_until([&] { return m_wire.size() >= polled; }, 3000));
    test::run_for(50);
    QCOMPARE(m_wire.size(), polled);
}

void TestMainFormLine::line_faults_data()
{
    // Three exchanges (AD, weight, AD) at three loads; the fault spoils the
    // first reply only. Which of the first two readings reach the readouts:
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("first_shown");
    QTest::addColumn<bool>("second_shown");

    QTest::newRow("split 5 + 3") << Fault::split << true << true;
    QTest::newRow("12 bytes at once") << Fault::twelve << true << true;
    QTest::newRow("stray byte ahead") << Fault::stray << false << true;
    QTest::newRow("truncated") << Fault::truncated << false << true;
    QTest::newRow("late: spoils the next one too") << Fault::late << false << false;
    QTest::newRow("wrong header") << Fault::header << false << true;
    QTest::newRow("wrong checksum") << Fault::checksum << false << true;
    QTest::newRow("no reply") << Fault::noreply << false << true;
    QTest::newRow("noise after the reply") << Fault::noise << true << true;
}

void TestMainFormLine::line_faults()
{
    QFETCH(Fault, fault);
    QFETCH(bool, first_shown);
    QFETCH(bool, second_shown);

    m_form->open_comm_Click();
    QLineEdit* ad = box(m_form.get(), "AD_now");
    QLineEdit* weight = box(m_form.get(), "weight_now");

    m_line->module().set_load(1111);
    m_line->set_fault_once(fault);
    exchange();
    QCOMPARE(ad->text(), first_shown ? ad_for(1111) : QStringLiteral("0"));

    m_line->module().set_load(2222);
    exchange();
    QCOMPARE(weight->text(), second_shown ? weight_for(2222) : QStringLiteral("0"));

    m_line->module().set_load(3333);
    exchange();
    QCOMPARE(ad->text(), ad_for(3333));
    QCOMPARE(spaced_hex(m_wire), QStringLiteral("55 01 01 00 00 00 00 57 55 01 02 00 00 00 00 58 "
                                                "55 01 01 00 00 00 00 57"));
    QVERIFY(m_sink.messages().isEmpty());
    QCOMPARE(caption(), QStringLiteral("关闭串口"));
}

void TestMainFormLine::other_address_gets_no_reply()
{
    box(m_form.get(), "add")->setText("2");
    m_form->open_comm_Click();
    exchange();
    exchange();
    QCOMPARE(spaced_hex(m_wire), QStringLiteral("55 02 01 00 00 00 00 58 55 02 02 00 00 00 00 59"));
    QCOMPARE(box(m_form.get(), "AD_now")->text(), QStringLiteral("0"));
    QCOMPARE(m_line->module().others_seen(), 2u);
}

void TestMainFormLine::unplug_and_back()
{
    m_form->open_comm_Click();
    exchange();
    QCOMPARE(box(m_form.get(), "AD_now")->text(), ad_for(1000));

    QVERIFY(m_line->unplug());
    QTRY_COMPARE(caption(), QStringLiteral("打开串口"));
    QVERIFY(!main_port()->portOpen());
    // The lost port must not spin: ticks go on, no notifier wakes the loop.
    int wakeups = 0;
    for (int i = 0; i < 5; ++i) {
        m_form->poll_tick();
        wakeups += test::socket_activations_during(exchange_ms);
    }
    QVERIFY2(wakeups <= 20, qPrintable(QStringLiteral("%1 socket wake-ups after the loss").arg(wakeups)));
    QCOMPARE(m_sink.messages().size(), 1);
    QVERIFY(m_sink.messages().first().text.contains(QStringLiteral("连接已断开")));

    // Opening while the device is away fails with a message, and works once
    // it is back (on a new pseudo-terminal behind the same number).
    m_form->open_comm_Click();
    QCOMPARE(m_sink.messages().size(), 2);
    QCOMPARE(caption(), QStringLiteral("打开串口"));
    QVERIFY(m_line->replug());
    m_line->module().set_load(1500);
    m_form->open_comm_Click();
    QCOMPARE(caption(), QStringLiteral("关闭串口"));
    exchange();
    exchange();
    QCOMPARE(box(m_form.get(), "weight_now")->text(), weight_for(1500));
    QCOMPARE(m_sink.messages().size(), 2);
}

void TestMainFormLine::exclusive_opening()
{
    m_form->open_comm_Click();
    QVERIFY(main_port()->portOpen());

    // The same device by its real path (another number) and by the same
    // number, from other port objects.
    QVERIFY(test::publish_virtual_port(2, m_line->device_path()));
    for (const std::int16_t number : {std::int16_t {sim_port}, std::int16_t {2}}) {
        QtPortObject other;
        other.setCommPort(number);
        const auto failure = other.setPortOpen(true);
        QVERIFY(failure.has_value());
        QCOMPARE(int(failure->reason), int(OpenFailure::Reason::in_use));
        QVERIFY(!other.portOpen());
    }
    // Polling goes on undisturbed.
    exchange();
    QCOMPARE(box(m_form.get(), "AD_now")->text(), ad_for(1000));
    QVERIFY(test::remove_virtual_port(2));
}

void TestMainFormLine::hand_over_to_parameters_dialog()
{
    m_form->open_comm_Click();
    exchange();

    // 设置: the main port lets go and the dialog takes the device.
    QTest::mouseClick(m_form->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    auto* dialog = test::open_window("canshu");
    QVERIFY(dialog);
    QVERIFY(!main_port()->portOpen());
    QCOMPARE(caption(), QStringLiteral("打开串口"));
    PortObject* dialog_port = m_ports.last();
    QVERIFY(dialog_port != main_port() && dialog_port->portOpen());
    QCOMPARE(dialog_port->deviceName(), QFileInfo(m_line->device_path()).canonicalFilePath());

    // The dialog talks to the module; the main window's ticks send nothing.
    const qsizetype before = m_wire.size();
    m_form->poll_tick();
    box(dialog, "kuandu")->setText("12");
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command4"), Qt::LeftButton);
    QTest::qWait(exchange_ms);
    QCOMPARE(spaced_hex(m_wire.mid(before)), QStringLiteral("55 01 07 03 00 00 0C 6C"));
    QCOMPARE(m_line->module().kuandu(), 12);
    box(dialog, "kuandu")->clear();
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command3"), Qt::LeftButton);
    QTRY_COMPARE(box(dialog, "kuandu")->text(), QStringLiteral("12"));

    // The main window cannot take the same device while the dialog holds it.
    m_form->open_comm_Click();
    QCOMPARE(caption(), QStringLiteral("打开串口"));
    QCOMPARE(m_sink.messages().size(), 1);
    QVERIFY(m_sink.messages().first().text.contains(QStringLiteral("8005")));

    // Closing the dialog hands the device back and polling resumes.
    dialog->close();
    QTRY_VERIFY(!test::open_window("canshu"));
    QCOMPARE(caption(), QStringLiteral("关闭串口"));
    m_line->module().set_load(4321);
    exchange();
    exchange();
    QCOMPARE(box(m_form.get(), "weight_now")->text(), weight_for(4321));
}

// Every byte the program writes in one fixed session, written out by hand:
// whatever the windows show about the link, the line carries exactly this.
void TestMainFormLine::traffic_of_a_fixed_session()
{
    m_form->open_comm_Click();
    exchange();
    exchange();
    m_line->set_fault_once(Fault::noreply);
    exchange();
    exchange();
    m_line->set_fault_once(Fault::checksum);
    exchange();
    exchange();
    QTest::mouseClick(m_form->findChild<QPushButton*>("clr_command"), Qt::LeftButton);
    exchange();
    exchange();
    QTest::mouseClick(m_form->findChild<QPushButton*>("biaoding_command"), Qt::LeftButton);
    QWidget* biaoding = test::open_window("biaoding");
    QVERIFY(biaoding);
    box(biaoding, "biaoding_val")->setText("100");
    QTest::mouseClick(biaoding->findChild<QPushButton*>("open_comm"), Qt::LeftButton);
    exchange();
    exchange();
    QTest::mouseClick(m_form->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QWidget* dialog = test::open_window("canshu");
    QVERIFY(dialog);
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command3"), Qt::LeftButton);
    QTest::qWait(exchange_ms);
    box(dialog, "kuandu")->setText("12");
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command4"), Qt::LeftButton);
    QTest::qWait(exchange_ms);
    dialog->close();
    QTRY_VERIFY(!test::open_window("canshu"));
    exchange();

    const QStringList expected {
        "55 01 01 00 00 00 00 57", "55 01 02 00 00 00 00 58",  // polling
        "55 01 01 00 00 00 00 57", "55 01 02 00 00 00 00 58",  // no reply to the first
        "55 01 01 00 00 00 00 57", "55 01 02 00 00 00 00 58",  // a bad checksum on the first
        "55 01 03 00 00 00 00 59", "55 01 01 00 00 00 00 57",  // 置零, then polling again
        "55 01 04 00 00 00 64 BE", "55 01 02 00 00 00 00 58",  // 标定 100
        "55 01 08 03 00 00 00 61", "55 01 07 03 00 00 0C 6C",  // the parameters dialog
        "55 01 01 00 00 00 00 57",  // the main window again
    };
    QCOMPARE(spaced_hex(m_wire), expected.join(QLatin1Char(' ')));
}

// What the indicator says and the readouts' colours through a silent module,
// bad checksums, recovery, a wrong address and the loss of the device.
void TestMainFormLine::link_indicator()
{
    auto* link = m_form->findChild<QLabel*>("link_state");
    QVERIFY(link);
    const auto state = [&] {
        const QColor ad = box(m_form.get(), "AD_now")->palette().color(QPalette::Text);
        const QColor weight = box(m_form.get(), "weight_now")->palette().color(QPalette::Text);
        const auto name = [](const QColor& c) {
            return c == Qt::blue ? "blue" : c == Qt::red ? "red" : c == QColor(0x6d, 0x6d, 0x6d) ? "grey" : "other";
        };
        const QString text = link->accessibleName() == link->text() ? link->text() : QStringLiteral("(name differs)");
        return QStringLiteral("%1 %2 %3").arg(text, name(ad), name(weight));
    };
    const auto tooltip = [&] {
        QHelpEvent ask(QEvent::ToolTip, QPoint(1, 1), link->mapToGlobal(QPoint(1, 1)));
        QCoreApplication::sendEvent(link, &ask);
        return link->toolTip();
    };
    const auto exchanges = [&](int count) {
        for (int i = 0; i < count; ++i)
            exchange();
    };

    QCOMPARE(state(), QStringLiteral(" blue red"));
    m_form->open_comm_Click();
    exchanges(2);
    QCOMPARE(state(), QStringLiteral("通信正常 blue red"));

    m_line->set_fault(Fault::noreply);
    exchanges(2);
    QCOMPARE(state(), QStringLiteral("通信正常 blue red"));  // lost replies alone do not flip it
    exchanges(2);
    QCOMPARE(state(), QStringLiteral("模块无应答 grey red"));  // the AD value is a second old
    exchange();
    QCOMPARE(state(), QStringLiteral("模块无应答 grey grey"));
    QVERIFY2(tooltip().contains(QStringLiteral("模块地址（当前 1）")), qPrintable(tooltip()));
    QVERIFY2(tooltip().contains(QStringLiteral("无应答 4 次")), qPrintable(tooltip()));

    m_line->set_fault(Fault::checksum);
    exchanges(2);
    QCOMPARE(state(), QStringLiteral("数据错误 grey grey"));
    QVERIFY2(tooltip().contains(QStringLiteral("校验错误 2 次")), qPrintable(tooltip()));

    m_line->set_fault(Fault::none);
    exchange();
    QCOMPARE(state(), QStringLiteral("通信正常 grey red"));  // the first good reply flips it at once
    exchange();
    QCOMPARE(state(), QStringLiteral("通信正常 blue red"));

    box(m_form.get(), "add")->setText("2");
    exchanges(5);
    QCOMPARE(state(), QStringLiteral("模块无应答 grey grey"));
    QVERIFY2(tooltip().contains(QStringLiteral("模块地址（当前 2）")), qPrintable(tooltip()));
    box(m_form.get(), "add")->setText("1");
    exchange();
    QCOMPARE(state(), QStringLiteral("通信正常 blue grey"));

    QVERIFY(m_line->unplug());
    QTRY_COMPARE(caption(), QStringLiteral("打开串口"));
    QCOMPARE(state(), QStringLiteral(" grey grey"));
}

// A load put on the scale: the weight's mark goes 波动, then 稳定 once three
// values agree, on the main window and in the calibration dialog alike.
void TestMainFormLine::stability_through_a_load_step()
{
    QCOMPARE(label_text(m_form.get(), "weight_state"), QString());
    m_form->open_comm_Click();
    for (int i = 0; i < 6; ++i)
        exchange();
    QCOMPARE(label_text(m_form.get(), "weight_state"), QStringLiteral("稳定"));
    QTest::mouseClick(m_form->findChild<QPushButton*>("biaoding_command"), Qt::LeftButton);
    QWidget* biaoding = test::open_window("biaoding");
    QVERIFY(biaoding);
    QCOMPARE(label_text(biaoding, "weight_line"), QStringLiteral("当前重量 1000  稳定"));

    m_line->module().set_load(1500);
    exchange();
    exchange();
    QCOMPARE(label_text(m_form.get(), "weight_state"), QStringLiteral("波动"));
    QCOMPARE(label_text(biaoding, "weight_line"), QStringLiteral("当前重量 1500  波动"));
    // 波动 while values of 1000 are within the last second, then 稳定.
    QStringList seen;
    for (int i = 0; i < 16 && label_text(m_form.get(), "weight_state") != QStringLiteral("稳定"); ++i) {
        exchange();
        seen.append(label_text(m_form.get(), "weight_state"));
    }
    QCOMPARE(seen.last(), QStringLiteral("稳定"));
    QCOMPARE(seen.count(QStringLiteral("波动")), seen.size() - 1);
    QCOMPARE(label_text(biaoding, "weight_line"), QStringLiteral("当前重量 1500  稳定"));
    // The rule and what it was judged on, when asked.
    auto* mark = m_form->findChild<QLabel*>("weight_state");
    QHelpEvent ask(QEvent::ToolTip, QPoint(1, 1), mark->mapToGlobal(QPoint(1, 1)));
    QCoreApplication::sendEvent(mark, &ask);
    QVERIFY2(mark->toolTip().contains(QStringLiteral("（最大值 − 最小值 ≤ 1）")), qPrintable(mark->toolTip()));
    QVERIFY2(mark->toolTip().contains(QStringLiteral("最小 1500，最大 1500")), qPrintable(mark->toolTip()));

    // A silent module and a closed port leave nothing to judge.
    m_line->set_fault(Fault::noreply);
    for (int i = 0; i < 4; ++i)
        exchange();
    QCOMPARE(label_text(m_form.get(), "weight_state"), QString());
    m_line->set_fault(Fault::none);
    m_form->open_comm_Click();
    QCOMPARE(label_text(biaoding, "weight_line"), QStringLiteral("当前重量 —"));
    biaoding->close();
}

void TestMainFormLine::check_of_zero_and_calibration_data()
{
    QTest::addColumn<int>("load");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("weight");  // empty: 置零, else 标定 with this weight
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("message");  // the module's word, in its box as ever
    QTest::addColumn<QString>("audit");  // the recording's row of the check

    QTest::newRow("a good zero") << 37 << Fault::none << QString() << QStringLiteral("零点已确认")
                                 << QStringLiteral("零点设置成功")
                                 << QStringLiteral("置零 已确认：目标 0±1，之前 37，之后 0；点击时 稳定，发送时 稳定");
    QTest::newRow("zero acknowledged, weight stays at 37")
        << 37 << Fault::fakezero << QString() << QStringLiteral("置零后未回零：当前 37")
        << QStringLiteral("零点设置成功")
        << QStringLiteral("置零 未回零：目标 0±1，之前 37，之后 37；点击时 稳定，发送时 稳定");
    QTest::newRow("a good calibration")
        << 1000 << Fault::none << QStringLiteral("500") << QStringLiteral("标定已确认") << QStringLiteral("标定成功")
        << QStringLiteral("标定 500 已确认：目标 500±1，之前 1000，之后 500；点击时 稳定，发送时 稳定");
    // The module refuses to calibrate on an empty scale, but answers.
    QTest::newRow("calibration acknowledged on an empty scale")
        << 0 << Fault::none << QStringLiteral("100") << QStringLiteral("标定后读数偏差：输入 100，读数 0")
        << QStringLiteral("标定成功")
        << QStringLiteral("标定 100 读数偏差：目标 100±1，之前 0，之后 0；点击时 稳定，发送时 稳定");
}

// After the module's acknowledgement the weight must settle on 0, or on the
// weight entered, within two seconds; the status line says how it went.
void TestMainFormLine::check_of_zero_and_calibration()
{
    QFETCH(int, load);
    QFETCH(Fault, fault);
    QFETCH(QString, weight);
    QFETCH(QString, status);
    QFETCH(QString, message);
    QFETCH(QString, audit);

    QTemporaryDir records;
    QVERIFY(m_form->start_recording(records.path()));
    std::optional<WeighingCheck> check;
    connect(&m_form->weighing(), &WeighingWatch::check_finished, this,
            [&check](const WeighingCheck& finished) { check = finished; });
    m_line->module().set_load(load);
    m_line->set_fault(fault);
    m_form->open_comm_Click();
    for (int i = 0; i < 6; ++i)
        exchange();
    QCOMPARE(label_text(m_form.get(), "weight_state"), QStringLiteral("稳定"));

    if (weight.isEmpty()) {
        QTest::mouseClick(m_form->findChild<QPushButton*>("clr_command"), Qt::LeftButton);
    } else {
        QTest::mouseClick(m_form->findChild<QPushButton*>("biaoding_command"), Qt::LeftButton);
        QWidget* biaoding = test::open_window("biaoding");
        QVERIFY(biaoding);
        box(biaoding, "biaoding_val")->setText(weight);
        QTest::mouseClick(biaoding->findChild<QPushButton*>("open_comm"), Qt::LeftButton);
    }
    auto* line = m_form->findChild<QLabel*>("status");
    for (int i = 0; i < 30 && line->text().isEmpty(); ++i)
        exchange();
    QCOMPARE(label_text(m_form.get(), "status"), status);
    QVERIFY(!line->toolTip().isEmpty());
    QCOMPARE(m_sink.texts(), QStringList {message});

    // What the audit of it gets.
    QVERIFY(check);
    QCOMPARE(int(check->at_click), int(Motion::stable));
    QCOMPARE(check->moving_when_sent(), false);
    QCOMPARE(check->weight_before, std::optional<std::uint32_t>(std::uint32_t(load)));
    QCOMPARE(check->target, weight.isEmpty() ? 0u : weight.toUInt());
    QVERIFY(check->clicked_ms <= check->sent_ms && check->sent_ms <= check->acknowledged_ms);
    // ... and what the recording keeps of it: the request, the module's
    // answer, the check.
    const QString path = QDir(records.path()).filePath(QDir(records.path()).entryList({"*.csv"}).value(0));
    m_form->stop_recording();
    QStringList kept;
    for (const QStringList& row : test::recording_rows(path)) {
        if (row[2] == QLatin1String("command") || row[2] == QLatin1String("answer"))
            kept << row[2];
        else if (row[2] == QLatin1String("check"))
            kept << row[8];
    }
    QCOMPARE(kept, (QStringList {"command", "answer", audit}));

    // Closing the port clears the line.
    m_form->open_comm_Click();
    QCOMPARE(label_text(m_form.get(), "status"), QString());
}

// A request the module leaves unanswered is named on the parameters dialog's
// status line; the next good reply clears it.
void TestMainFormLine::parameters_dialog_status()
{
    QTest::mouseClick(m_form->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QWidget* dialog = test::open_window("canshu");
    QVERIFY(dialog);
    auto* status = dialog->findChild<QLabel*>("status");
    QVERIFY(status);
    QCOMPARE(status->text(), QString());

    m_line->set_fault(Fault::noreply);
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("模块无应答：请检查地址和接线"), 1000);
    QCOMPARE(status->accessibleName(), status->text());

    m_line->set_fault(Fault::checksum);
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command3"), Qt::LeftButton);
    QCOMPARE(status->text(), QString());  // the press clears it
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("数据错误：请检查波特率和接线"), 1000);

    m_line->set_fault(Fault::none);
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command3"), Qt::LeftButton);
    QTRY_VERIFY(!box(dialog, "kuandu")->text().isEmpty());
    test::run_for(600);
    QCOMPARE(status->text(), QString());
    dialog->close();
}

void TestMainFormLine::stop_signal_data()
{
    QTest::addColumn<int>("signal_number");
    QTest::addColumn<bool>("ignored_at_start");  // as nohup leaves SIGHUP; SIGTERM then ends it
    QTest::newRow("SIGTERM (kill)") << int(SIGTERM) << false;
    QTest::newRow("SIGHUP (logout)") << int(SIGHUP) << false;
    QTest::newRow("SIGINT (Ctrl+C)") << int(SIGINT) << false;
    QTest::newRow("SIGHUP under nohup: ignored") << int(SIGHUP) << true;
}

void TestMainFormLine::stop_signal()
{
    QFETCH(int, signal_number);
    QFETCH(bool, ignored_at_start);

    const QString device = QFileInfo(m_line->device_path()).canonicalFilePath();
    const QString lock = test::lock_file_for(device);
    QVERIFY2(!QFileInfo::exists(lock), qPrintable(lock + " is there before the program runs"));

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(program_variable), QString::number(sim_port));
    program.setProcessEnvironment(environment);
    if (ignored_at_start)
        program.setChildProcessModifier([signal_number] { ::signal(signal_number, SIG_IGN); });
    program.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(program.waitForStarted());
    const auto stop_left_over = qScopeGuard([&] {
        if (program.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
            program.waitForFinished(10'000);
        }
    });

    // The program polls the module and holds the device's lock file.
    QTRY_VERIFY_WITH_TIMEOUT(m_wire.size() >= 16, 15'000);
    QVERIFY2(QFileInfo::exists(lock), qPrintable(lock));

    QCOMPARE(::kill(static_cast<pid_t>(program.processId()), signal_number), 0);
    if (ignored_at_start) {
        // It goes on polling.
        const qsizetype sent = m_wire.size();
        QTRY_VERIFY_WITH_TIMEOUT(m_wire.size() >= sent + 16, 15'000);
        QCOMPARE(program.state(), QProcess::Running);
        QCOMPARE(::kill(static_cast<pid_t>(program.processId()), SIGTERM), 0);
    }
    QVERIFY(program.waitForFinished(10'000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAll(), QByteArray());  // and says nothing

    // No lock file is left, and the device opens again.
    QVERIFY2(!QFileInfo::exists(lock), qPrintable(lock));
    const auto port = make_port_factory()();
    port->setCommPort(sim_port);
    QCOMPARE(port->setPortOpen(true), std::nullopt);
    QCOMPARE(port->deviceName(), device);
}

namespace {
extern "C" void handler_of_its_own(int) { }
}  // namespace

void TestMainFormLine::stop_signal_handlers_data()
{
    // What SIGUSR1, standing in for a stop signal, does before the watcher is made.
    QTest::addColumn<bool>("ignored");
    QTest::addColumn<bool>("own_handler");
    QTest::newRow("ignored: left ignored") << true << false;
    QTest::newRow("default: caught, then the default again") << false << false;
    QTest::newRow("a handler of its own: caught, then that handler again") << false << true;
}

void TestMainFormLine::stop_signal_handlers()
{
    QFETCH(bool, ignored);
    QFETCH(bool, own_handler);

    struct sigaction before { };
    before.sa_handler = ignored ? SIG_IGN : own_handler ? handler_of_its_own : SIG_DFL;
    struct sigaction saved { };
    QCOMPARE(::sigaction(SIGUSR1, &before, &saved), 0);
    const auto restore = qScopeGuard([&] { ::sigaction(SIGUSR1, &saved, nullptr); });
    {
        SignalPipe watcher({SIGUSR1});
        QVERIFY(watcher.ok());
        QSignalSpy received(&watcher, &SignalPipe::received);
        QCOMPARE(::raise(SIGUSR1), 0);
        if (ignored)
            test::run_for(100);
        else
            QVERIFY(received.wait(5'000));
        QCOMPARE(received.size(), ignored ? 0 : 1);
    }
    struct sigaction after { };
    QCOMPARE(::sigaction(SIGUSR1, nullptr, &after), 0);
    QVERIFY(after.sa_handler == before.sa_handler);
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (const QByteArray port = qgetenv(program_variable); !port.isEmpty())
        return run_program(QString::fromLatin1(port));
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestMainFormLine test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_main_form_line.moc"
