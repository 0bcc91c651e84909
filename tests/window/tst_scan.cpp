// The module scan on fake ports: what it finds among replies, echoes and
// stray bytes, stopping it, and the hand-over of the main window's port to
// the scan window and back to polling.

#include "dialogs/canshu.h"
#include "hex.h"
#include "main_form_test.h"
#include "run_until.h"
#include "scan/module_scan.h"
#include "scan/scan_window.h"
#include "window_peer.h"

#include <QAccessible>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <map>

using namespace pondara;
using pondara::test::FakePortObject;
using pondara::test::hex_bytes;
using pondara::test::spaced_hex;

namespace {

using Answers = std::map<int, QByteArray>;  // what the line carries after the probe of each address

// Plays the line: after each probe, the bytes of `answers` for its address.
void answer_probes(test::FakePortFactory& ports, const Answers& answers, int probes)
{
    for (int k = 0; k < probes; ++k) {
        QVERIFY(test::run_until([&] { return ports.last() && ports.last()->written().size() > k; }, 5000));
        const int address = ports.last()->written().at(k)[1];
        if (const auto found = answers.find(address); found != answers.end())
            ports.last()->receive(found->second);
    }
}

QString describe(const ScanFind& find)
{
    return QStringLiteral("%1 as %2: %3").arg(find.address).arg(find.answered_as).arg(find.value);
}

}  // namespace

class TestScan : public test::MainFormTest {
    Q_OBJECT

private slots:
    void finds_data();
    void finds();
    void stop_mid_scan();
    void hand_over_data();
    void hand_over();
    void parameters_dialog_open();
    void opening_data();
    void opening();
    void controls_named();
};

void TestScan::finds_data()
{
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<int>("stray");

    const QByteArray ad_1 = hex_bytes("22 01 01 03 00 03 E8 12");  // 1000 from address 1
    const QByteArray ad_3 = hex_bytes("22 03 01 03 08 00 05 36");  // 524293 from address 3
    const QByteArray echo_1 = hex_bytes("55 01 01 00 00 00 00 57");
    QTest::newRow("modules at 1 and 3") << Answers {{1, ad_1}, {3, ad_3}}
                                        << QStringList {"1 as 1: 1000", "3 as 3: 524293"} << 0;
    QTest::newRow("probed at 2, answers as 1") << Answers {{2, ad_1}} << QStringList {"2 as 1: 1000"} << 0;
    QTest::newRow("stray bytes ahead of the reply")
        << Answers {{1, hex_bytes("01 22 55") + ad_1}} << QStringList {"1 as 1: 1000"} << 3;
    QTest::newRow("stray bytes alone") << Answers {{2, hex_bytes("FF 00 13")}} << QStringList {} << 3;
    QTest::newRow("checksum one off") << Answers {{1, hex_bytes("22 01 01 03 00 03 E8 13")}} << QStringList {} << 8;
    QTest::newRow("half a reply") << Answers {{1, hex_bytes("22 01 01 03")}} << QStringList {} << 4;
    QTest::newRow("echoing adapter") << Answers {{0, hex_bytes("55 00 01 00 00 00 00 56")},
                                                 {1, echo_1 + ad_1},
                                                 {2, hex_bytes("55 02 01 00 00 00 00 58")},
                                                 {3, hex_bytes("55 03 01 00 00 00 00 59")}}
                                     << QStringList {"1 as 1: 1000"} << 0;
}

void TestScan::finds()
{
    QFETCH(Answers, answers);
    QFETCH(QStringList, found);
    QFETCH(int, stray);

    test::FakePortFactory ports;
    ModuleScan scan(ports.factory());
    QStringList seen;
    int stray_seen = -1;
    connect(&scan, &ModuleScan::found, this, [&](const ScanFind& find) { seen.append(describe(find)); });
    connect(&scan, &ModuleScan::port_done, this, [&](int, const QString&, int count) { stray_seen = count; });
    QSignalSpy finished(&scan, &ModuleScan::finished);

    scan.start({{4}, 0, 3, ModuleScan::min_wait_ms});
    QCOMPARE(ports.last()->opened_comm_port(), 4);
    answer_probes(ports, answers, 4);
    QVERIFY(test::run_until([&] { return finished.size() == 1; }, 5000));

    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QCOMPARE(seen, found);
    QCOMPARE(stray_seen, stray);
    const FakePortObject* port = ports.last();
    QCOMPARE(port->written().size(), 4);
    QCOMPARE(spaced_hex(port->written().first()), QStringLiteral("55 00 01 00 00 00 00 56"));
    QCOMPARE(spaced_hex(port->written().last()), QStringLiteral("55 03 01 00 00 00 00 59"));
    QVERIFY(!port->portOpen());
}

void TestScan::stop_mid_scan()
{
    test::FakePortFactory ports;
    ModuleScan scan(ports.factory());
    QSignalSpy finished(&scan, &ModuleScan::finished);
    scan.start({{1}, 0, 255, ModuleScan::min_wait_ms});
    QVERIFY(test::run_until([&] { return ports.last()->written().size() == 3; }, 5000));

    scan.stop();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QVERIFY(!ports.last()->portOpen());
    test::run_for(3 * ModuleScan::min_wait_ms);
    QCOMPARE(ports.last()->written().size(), 3);
}

void TestScan::hand_over_data()
{
    QTest::addColumn<bool>("main_open");
    QTest::addColumn<bool>("use_row");
    QTest::addColumn<QString>("next_poll");  // the main window's first request after the scan, or "" for none

    QTest::newRow("open port, address kept") << true << false << "55 07 02 00 00 00 00 5E";
    QTest::newRow("open port, found address used") << true << true << "55 02 02 00 00 00 00 59";
    QTest::newRow("closed port stays closed") << false << true << "";
}

void TestScan::hand_over()
{
    QFETCH(bool, main_open);
    QFETCH(bool, use_row);
    QFETCH(QString, next_poll);

    MainForm& form = *m_form;
    test::FakePortFactory& ports = m_ports;
    form.findChild<QTimer*>("Timer1")->stop();
    form.findChild<QLineEdit*>("chuankou_num")->setText("3");
    form.findChild<QLineEdit*>("add")->setText("7");
    FakePortObject* main_port = ports.port(0);
    if (main_open) {
        form.open_comm_Click();
        form.poll_tick();  // read_ad to 7
    }

    form.show_scan();
    auto* window = test::open_window<ScanWindow>("scan");
    QVERIFY(window);
    QCOMPARE(window->findChild<QComboBox*>("port")->currentText(), QStringLiteral("3"));
    window->findChild<QLineEdit*>("last")->setText("2");
    window->findChild<QLineEdit*>("wait")->setText("20");
    QTest::mouseClick(window->findChild<QPushButton*>("start"), Qt::LeftButton);
    QVERIFY(!main_port->portOpen());
    QCOMPARE(ports.last()->opened_comm_port(), 3);
    answer_probes(ports, {{2, hex_bytes("22 02 01 03 00 03 E8 13")}}, 3);
    QVERIFY(test::run_until([&] { return !window->scan().running(); }, 5000));

    auto* results = window->findChild<QTableWidget*>("results");
    QCOMPARE(results->rowCount(), 1);
    QCOMPARE(results->item(0, 2)->text(), QStringLiteral("2"));
    QCOMPARE(results->item(0, 3)->text(), QStringLiteral("1000"));
    if (use_row)
        QTest::mouseClick(window->findChild<QPushButton*>("use"), Qt::LeftButton);
    QCOMPARE(main_port->portOpen(), main_open);
    const int before = static_cast<int>(main_port->written().size());
    form.poll_tick();
    form.poll_tick();
    const QList<Packet> after = main_port->written().mid(before);
    QCOMPARE(after.isEmpty() ? QString() : spaced_hex(after.first()), next_poll);
    QVERIFY(m_sink.texts().isEmpty());
}

void TestScan::parameters_dialog_open()
{
    MainForm& form = *m_form;
    test::FakePortFactory& ports = m_ports;
    form.open_comm_Click();
    QTest::mouseClick(form.findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QVERIFY(test::open_window("canshu"));
    const int made = ports.count();

    form.show_scan();
    auto* window = test::open_window<ScanWindow>("scan");
    QTest::mouseClick(window->findChild<QPushButton*>("start"), Qt::LeftButton);
    QVERIFY(!window->scan().running());
    QCOMPARE(ports.count(), made);
    QVERIFY(window->findChild<QLabel*>("status")->text().contains(QStringLiteral("参数设置窗口")));
    form.close();
}

void TestScan::opening_data()
{
    QTest::addColumn<QString>("from");  // a control whose context menu holds the entry, or "" for Ctrl+F

    QTest::newRow("link indicator's menu") << "link_state";
    QTest::newRow("AD readout's menu") << "AD_now";
    QTest::newRow("weight readout's menu") << "weight_now";
    QTest::newRow("Ctrl+F") << "";
}

void TestScan::opening()
{
    QFETCH(QString, from);

    MainForm& form = *m_form;
    if (from.isEmpty()) {
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
    } else {
        auto* control = form.findChild<QWidget*>(from);
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(4, 4), control->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(control, &event);
        auto* menu = control->findChild<QMenu*>();
        QVERIFY(menu);
        QAction* entry = menu->actions().last();
        QCOMPARE(entry->text(), QStringLiteral("查找模块…"));
        entry->trigger();
        menu->close();
    }
    auto* window = test::open_window<ScanWindow>("scan");
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("查找模块 - PondaraV6"));
    form.show_scan();
    QCOMPARE(test::open_window<ScanWindow>("scan"), window);
    form.close();
}

// Every control is reachable by its object name and says what it is: the
// boxes through the label that labels them, the buttons by their caption.
void TestScan::controls_named()
{
    test::FakePortFactory ports;
    ScanWindow window({}, ports.factory());
    const QStringList expected {"port:串口", "wait:等待毫秒", "first:起始地址", "last:结束地址",     "start:开始",
                                "stop:停止", "use:使用",      "progress:进度",  "results:找到的模块"};
    QStringList named;
    for (QWidget* control : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<QLabel*>(control))
            continue;
        const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        const auto labels = accessible->relations(QAccessible::Label);
        named.append(
            control->objectName() + QLatin1Char(':')
            + (labels.isEmpty() ? accessible->text(QAccessible::Name) : labels.first().first->text(QAccessible::Name)));
    }
    QCOMPARE(named, expected);
}

QTEST_MAIN(TestScan)
#include "tst_scan.moc"
