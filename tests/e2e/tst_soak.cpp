// The poll cycle as fast as the line allows, with about 2% of the replies
// spoiled at random: every reply that reaches the line intact is shown, no
// other value ever is, and memory and descriptors stay where they were.

#include "main_window/main_form.h"
#include "port_tap.h"
#include "process_figures.h"
#include "recording_sink.h"
#include "reply_ledger.h"
#include "run_until.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "sim_line.h"
#include "virtual_port_links.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace pondara;
using pondara::sim::SimLine;
using pondara::test::ProcessFigures;
using pondara::test::run_until;

namespace {

// As many under ASan: it makes an exchange only about a third slower.
constexpr int exchanges = 20000;
constexpr int warm_up = 500;
constexpr double fault_rate = 0.02;
constexpr std::uint32_t seed = 20240607;
constexpr int sim_port = 8;
constexpr long long memory_slack = 1024 * 1024;

}  // namespace

class TestSoak : public QObject {
    Q_OBJECT

private slots:
    void fast_polling_with_faults();
};

void TestSoak::fast_polling_with_faults()
{
    SimLine line(sim_port);
    line.module().set_noise(false);
    line.set_pacing(false);
    line.set_seed(seed);
    line.set_fault_rate(fault_rate);
    QString error;
    QVERIFY2(line.start(&error), qPrintable(error));

    test::RecordingSink sink;
    const test::PortTap ports(make_port_factory());
    MainForm form(ports.factory(), sink, [] { return PortResolver().mapping(); });
    // The test drives the ticks, one as soon as the line is quiet.
    form.findChild<QTimer*>("Timer1")->stop();
    form.findChild<QLineEdit*>("chuankou_num")->setText(QString::number(sim_port));
    test::ReplyLedger ledger(line, form.findChild<QLineEdit*>("AD_now"), form.findChild<QLineEdit*>("weight_now"));
    form.open_comm_Click();
    QVERIFY(ports.first()->portOpen());

    ProcessFigures before;
    QElapsedTimer wall;
    for (int n = 0; n < warm_up + exchanges; ++n) {
        if (n == warm_up) {
            before = ProcessFigures::now();
            wall.start();
        }
        const quint64 replies = ledger.counts().replies;
        form.poll_tick();
        // The module answered (a reply made, spoiled or not) and the line
        // carried all of it that goes out now.
        QVERIFY2(run_until([&] { return ledger.counts().replies > replies && !line.sending(); }, 2000),
                 qPrintable(QStringLiteral("exchange %1: no reply").arg(n)));
        if (ledger.newest_intact()) {
            QVERIFY2(
                run_until([&] { return !ledger.waiting_for_newest(); }, 2000),
                qPrintable(QStringLiteral("exchange %1: intact reply not shown; %2").arg(n).arg(ledger.summary())));
        } else {
            // Whatever the window makes of a spoiled reply, it has it by now.
            test::run_for(2);
        }
        QVERIFY2(ledger.ok(), qPrintable(ledger.first_problem()));
    }
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    test::run_for(60);
    ledger.finish();
    const ProcessFigures after = ProcessFigures::now();

    qInfo("%d exchanges after %d to warm up, in %.1f s (%.0f a second)", exchanges, warm_up, seconds,
          exchanges / seconds);
    qInfo("%s", qPrintable(ledger.summary()));
    qInfo("before %s; after %s; %s growth %lld KiB", qPrintable(before.describe()), qPrintable(after.describe()),
          ProcessFigures::checked_name, (after.checked_bytes() - before.checked_bytes()) / 1024);

    QVERIFY2(ledger.ok(), qPrintable(ledger.first_problem()));
    const auto& counts = ledger.counts();
    QCOMPARE(counts.shown, counts.intact);
    // The fault rate really spoiled replies, of several kinds.
    QVERIFY(counts.spoiled > static_cast<quint64>(exchanges * fault_rate / 3));
    QVERIFY(sink.messages().isEmpty());
    QVERIFY(ports.first()->portOpen());
    QCOMPARE(after.open_fds, before.open_fds);
    const long long growth = after.checked_bytes() - before.checked_bytes();
    QVERIFY2(growth < memory_slack,
             qPrintable(QStringLiteral("%1 grew by %2 KiB").arg(ProcessFigures::checked_name).arg(growth / 1024)));
}

int main(int argc, char* argv[])
{
    const QTemporaryDir runtime;
    if (!test::use_runtime_dir(runtime))
        return 1;
    QApplication app(argc, argv);
    TestSoak test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_soak.moc"
