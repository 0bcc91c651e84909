// A long soak of the main window on the simulated module, at the window's
// own 200 ms poll and 9600-baud pacing, with random line faults: prints the
// figures every minute and at the end, and exits with 1 if any intact reply
// was lost, any other value shown, any message raised, or descriptors or
// memory grew. Run by scripts/soak, not by the tests.
//
//   pondara-soak [--seconds N] [--fault-rate P] [--seed S] [--report-every N]

#include "main_window/main_form.h"
#include "port_tap.h"
#include "process_figures.h"
#include "recording_sink.h"
#include "reply_ledger.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "sim_line.h"
#include "virtual_port_links.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace pondara;

namespace {

constexpr int sim_port = 1;
constexpr long long memory_slack = 1024 * 1024;

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[])
{
    // Virtual ports of this run only, made before Qt first asks for them.
    const QTemporaryDir runtime;
    if (!test::use_runtime_dir(runtime)) {
        std::fprintf(stderr, "pondara-soak: no runtime folder\n");
        return 2;
    }
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Soaks the main window on the simulated module."));
    parser.addHelpOption();
    const QCommandLineOption seconds_option(QStringLiteral("seconds"), QStringLiteral("How long (default 3600)."),
                                            QStringLiteral("N"), QStringLiteral("3600"));
    const QCommandLineOption rate_option(QStringLiteral("fault-rate"),
                                         QStringLiteral("Share of replies spoiled (default 0.02)."),
                                         QStringLiteral("P"), QStringLiteral("0.02"));
    const QCommandLineOption seed_option(QStringLiteral("seed"), QStringLiteral("Random seed (default 1)."),
                                         QStringLiteral("S"), QStringLiteral("1"));
    const QCommandLineOption every_option(QStringLiteral("report-every"),
                                          QStringLiteral("Seconds between reports (default 60)."), QStringLiteral("N"),
                                          QStringLiteral("60"));
    parser.addOptions({seconds_option, rate_option, seed_option, every_option});
    parser.process(app);
    const int seconds = parser.value(seconds_option).toInt();
    const double rate = parser.value(rate_option).toDouble();
    const auto seed = parser.value(seed_option).toUInt();
    const int every = std::max(1, parser.value(every_option).toInt());

    sim::SimLine line(sim_port);
    line.module().set_noise(false);
    line.set_pacing(true);
    line.set_seed(seed);
    line.set_fault_rate(rate);
    QString error;
    if (!line.start(&error)) {
        std::fprintf(stderr, "pondara-soak: %s\n", qPrintable(error));
        return 2;
    }

    test::RecordingSink sink;
    const test::PortTap ports(make_port_factory());
    MainForm form(ports.factory(), sink, [] { return PortResolver().mapping(); });
    form.findChild<QLineEdit*>("chuankou_num")->setText(QString::number(sim_port));
    test::ReplyLedger ledger(line, form.findChild<QLineEdit*>("AD_now"), form.findChild<QLineEdit*>("weight_now"));
    form.open_comm_Click();
    if (!sink.messages().isEmpty() || !ports.first()->portOpen()) {
        std::fprintf(stderr, "pondara-soak: the port did not open: %s\n", qPrintable(sink.texts().join(' ')));
        return 2;
    }
    say(QStringLiteral("soaking for %1 s at the window's 200 ms poll, fault rate %2, seed %3")
            .arg(seconds)
            .arg(rate)
            .arg(seed));

    // Figures are compared with those after the first report interval,
    // when everything made once has been made.
    QElapsedTimer clock;
    clock.start();
    test::ProcessFigures start;
    bool started = false;
    const auto report = [&] {
        const test::ProcessFigures now = test::ProcessFigures::now();
        if (!started) {
            start = now;
            started = true;
        }
        say(QStringLiteral("%1 s: %2; %3; %4 growth %5 KiB; messages %6")
                .arg(clock.elapsed() / 1000)
                .arg(ledger.summary(), now.describe(), QLatin1String(test::ProcessFigures::checked_name))
                .arg((now.checked_bytes() - start.checked_bytes()) / 1024)
                .arg(sink.messages().size()));
    };
    QTimer reports;
    QObject::connect(&reports, &QTimer::timeout, report);
    reports.start(every * 1000);
    QTimer::singleShot(seconds * 1000, &app, [&] {
        // Stop polling and let the last reply arrive before the reckoning.
        form.findChild<QTimer*>("Timer1")->stop();
        QTimer::singleShot(300, &app, &QCoreApplication::quit);
    });
    QApplication::exec();
    reports.stop();
    ledger.finish();

    const test::ProcessFigures end = test::ProcessFigures::now();
    if (!started)
        start = end;
    const double wall = static_cast<double>(clock.elapsed()) / 1000.0;
    say(QStringLiteral("end after %1 s: %2").arg(wall, 0, 'f', 1).arg(ledger.summary()));
    say(QStringLiteral("process: %1 (CPU %2% of the time); fds %3 -> %4; %5 growth %6 KiB; messages %7")
            .arg(end.describe())
            .arg(100.0 * end.cpu_seconds / wall, 0, 'f', 1)
            .arg(start.open_fds)
            .arg(end.open_fds)
            .arg(QLatin1String(test::ProcessFigures::checked_name))
            .arg((end.checked_bytes() - start.checked_bytes()) / 1024)
            .arg(sink.messages().size()));
    bool ok = true;
    if (!ledger.ok()) {
        say(QStringLiteral("FAIL: ") + ledger.first_problem());
        ok = false;
    }
    if (!sink.messages().isEmpty()) {
        say(QStringLiteral("FAIL: message: ") + sink.texts().first());
        ok = false;
    }
    if (end.open_fds != start.open_fds || end.checked_bytes() - start.checked_bytes() >= memory_slack) {
        say(QStringLiteral("FAIL: descriptors or memory grew"));
        ok = false;
    }
    if (ledger.counts().replies == 0) {
        say(QStringLiteral("FAIL: no replies at all"));
        ok = false;
    }
    say(ok ? QStringLiteral("soak passed") : QStringLiteral("soak FAILED"));
    return ok ? 0 : 1;
}
