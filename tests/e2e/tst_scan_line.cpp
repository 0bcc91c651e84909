// The module scan on real serial ports against the simulated bus: every
// module found and nothing else, and the scan of every port with one of them
// busy.

#include "run_until.h"
#include "scan/module_scan.h"
#include "scan/scan_window.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "sim_console.h"
#include "sim_line.h"
#include "virtual_port_links.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace pondara;
using pondara::sim::run_console_command;
using pondara::sim::SimLine;

namespace {

constexpr int bus_port = 9;
constexpr int busy_port = 10;

std::unique_ptr<SimLine> started_bus(int port, const QStringList& commands)
{
    auto line = std::make_unique<SimLine>(port);
    for (const QString& command : commands)
        run_console_command(*line, command);
    if (!line->start())
        return nullptr;
    return line;
}

}  // namespace

class TestScanLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void bus_of_three();
    void all_ports_one_busy();

private:
    QTemporaryDir m_runtime;
    QTemporaryDir m_no_devices;  // a device folder without serial ports
};

void TestScanLine::initTestCase() { QVERIFY(test::use_runtime_dir(m_runtime)); }

void TestScanLine::cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

void TestScanLine::bus_of_three()
{
    const auto line = started_bus(bus_port, {"address 1,5,17", "noise off", "load 5 1500"});
    QVERIFY(line);
    ModuleScan scan(make_port_factory());
    QStringList found;
    connect(&scan, &ModuleScan::found, this, [&](const ScanFind& find) {
        found.append(QStringLiteral("%1 as %2: %3").arg(find.address).arg(find.answered_as).arg(find.value));
    });
    int stray = -1;
    connect(&scan, &ModuleScan::port_done, this, [&](int, const QString&, int count) { stray = count; });
    QSignalSpy finished(&scan, &ModuleScan::finished);

    scan.start({{bus_port}, 0, 255, ModuleScan::min_wait_ms});
    QVERIFY(test::run_until([&] { return finished.size() == 1; }, 60'000));
    // 0x080000 + 8 per unit of load.
    QCOMPARE(found, (QStringList {"1 as 1: 524288", "5 as 5: 536288", "17 as 17: 524288"}));
    QCOMPARE(stray, 0);
    QCOMPARE(line->counters().requests, 3u);
}

void TestScanLine::all_ports_one_busy()
{
    const auto bus = started_bus(bus_port, {"address 1,5,17", "noise off"});
    const auto other = started_bus(busy_port, {"address 3"});
    QVERIFY(bus && other);
    // Another program holds port 10.
    const auto holder = make_port_factory()();
    holder->setCommPort(busy_port);
    QVERIFY(!holder->setPortOpen(true));

    ScanHost host;
    host.port_text = [] { return QStringLiteral("9"); };
    host.list_ports = [this] {
        const PortResolver::Roots system = PortResolver::system_roots();
        return PortResolver({system.virtual_dir, m_no_devices.path(), m_no_devices.path()}).mapping();
    };
    ScanWindow window(host, make_port_factory());
    auto* port = window.findChild<QComboBox*>("port");
    QCOMPARE(port->itemText(0), QStringLiteral("所有串口"));
    QCOMPARE(port->count(), 3);
    port->setCurrentIndex(0);
    window.findChild<QLineEdit*>("last")->setText("20");
    window.findChild<QLineEdit*>("wait")->setText("20");
    QTest::mouseClick(window.findChild<QPushButton*>("start"), Qt::LeftButton);
    QVERIFY(test::run_until([&] { return !window.scan().running(); }, 30'000));

    auto* results = window.findChild<QTableWidget*>("results");
    QStringList rows;
    for (int row = 0; row < results->rowCount(); ++row)
        rows.append(results->item(row, 0)->text() + QLatin1Char('/') + results->item(row, 2)->text());
    QCOMPARE(rows, (QStringList {"9/1", "9/5", "9/17"}));
    const QString status = window.findChild<QLabel*>("status")->text();
    QVERIFY2(status.startsWith(QStringLiteral("串口 10（/dev/pts/"))
                 && status.endsWith(QStringLiteral("）：已被占用，跳过")),
             qPrintable(status));
    QCOMPARE(other->counters().requests, 0u);
}

QTEST_MAIN(TestScanLine)
#include "tst_scan_line.moc"
