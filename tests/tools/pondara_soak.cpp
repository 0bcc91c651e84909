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

#include <algorithm>
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

struct Options {
    int seconds = 3600;
    double rate = 0.02;
    unsigned seed = 1;
    int every = 60;  // seconds between reports
};

Options read_options(const QApplication& app)
{
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
    return {parser.value(seconds_option).toInt(), parser.value(rate_option).toDouble(),
            parser.value(seed_option).toUInt(), std::max(1, parser.value(every_option).toInt())};
}

// The simulated module at 9600-baud pacing, without AD noise, spoiling
// replies at random.
bool start_line(sim::SimLine& line, const Options& options)
{
    line.module().set_noise(false);
    line.set_pacing(true);
    line.set_seed(options.seed);
    line.set_fault_rate(options.rate);
    QString error;
    if (!line.start(&error)) {
        std::fprintf(stderr, "pondara-soak: %s\n", qPrintable(error));
        return false;
    }
    return true;
}

// Opens the module's port from the main window, as the operator does.
bool open_port(MainForm& form, const test::RecordingSink& sink, const test::PortTap& ports)
{
    form.open_comm_Click();
    if (!sink.messages().isEmpty() || !ports.first()->portOpen()) {
        std::fprintf(stderr, "pondara-soak: the port did not open: %s\n", qPrintable(sink.texts().join(' ')));
        return false;
    }
    return true;
}

// Prints the figures every `every` seconds from now on. Figures at the end
// are compared with those of the first report, when everything made once
// has been made.
class Reports {
public:
    Reports(const test::ReplyLedger& ledger, const test::RecordingSink& sink, int every)
        : m_ledger(ledger),
          m_sink(sink)
    {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] { report(); });
        m_timer.start(every * 1000);
    }

    void stop() { m_timer.stop(); }
    double elapsed_seconds() const { return static_cast<double>(m_clock.elapsed()) / 1000.0; }
    // The first report's figures, or `end` when there was none.
    test::ProcessFigures start_or(const test::ProcessFigures& end) const { return m_started ? m_start : end; }

private:
    void report()
    {
        const test::ProcessFigures now = test::ProcessFigures::now();
        if (!m_started) {
            m_start = now;
            m_started = true;
        }
        say(QStringLiteral("%1 s: %2; %3; %4 growth %5 KiB; messages %6")
                .arg(m_clock.elapsed() / 1000)
                .arg(m_ledger.summary(), now.describe(), QLatin1String(test::ProcessFigures::checked_name))
                .arg((now.checked_bytes() - m_start.checked_bytes()) / 1024)
                .arg(m_sink.messages().size()));
    }

    const test::ReplyLedger& m_ledger;
    const test::RecordingSink& m_sink;
    QElapsedTimer m_clock;
    QTimer m_timer;
    test::ProcessFigures m_start;
    bool m_started = false;
};

// Lets the window poll for `seconds`, then stops the polling and lets the
// last reply arrive before the reckoning.
void soak_for(MainForm& form, int seconds)
{
    QTimer::singleShot(seconds * 1000, qApp, [&form] {
        form.findChild<QTimer*>("Timer1")->stop();
        QTimer::singleShot(300, qApp, &QCoreApplication::quit);
    });
    QApplication::exec();
}

void print_end(const test::ReplyLedger& ledger, const test::RecordingSink& sink, const test::ProcessFigures& start,
               const test::ProcessFigures& end, double wall)
{
    say(QStringLiteral("end after %1 s: %2").arg(wall, 0, 'f', 1).arg(ledger.summary()));
    say(QStringLiteral("process: %1 (CPU %2% of the time); fds %3 -> %4; %5 growth %6 KiB; messages %7")
            .arg(end.describe())
            .arg(100.0 * end.cpu_seconds / wall, 0, 'f', 1)
            .arg(start.open_fds)
            .arg(end.open_fds)
            .arg(QLatin1String(test::ProcessFigures::checked_name))
            .arg((end.checked_bytes() - start.checked_bytes()) / 1024)
            .arg(sink.messages().size()));
}

// Says each thing that went wrong; true when nothing did.
bool passed(const test::ReplyLedger& ledger, const test::RecordingSink& sink, const test::ProcessFigures& start,
            const test::ProcessFigures& end)
{
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
    return ok;
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
    const Options options = read_options(app);
    sim::SimLine line(sim_port);
    if (!start_line(line, options))
        return 2;

    test::RecordingSink sink;
    const test::PortTap ports(make_port_factory());
    MainForm form(ports.factory(), sink, [] { return PortResolver().mapping(); });
    form.findChild<QLineEdit*>("chuankou_num")->setText(QString::number(sim_port));
    test::ReplyLedger ledger(line, form.findChild<QLineEdit*>("AD_now"), form.findChild<QLineEdit*>("weight_now"));
    if (!open_port(form, sink, ports))
        return 2;
    say(QStringLiteral("soaking for %1 s at the window's 200 ms poll, fault rate %2, seed %3")
            .arg(options.seconds)
            .arg(options.rate)
            .arg(options.seed));

    Reports reports(ledger, sink, options.every);
    soak_for(form, options.seconds);
    reports.stop();
    ledger.finish();
    const test::ProcessFigures end = test::ProcessFigures::now();
    const test::ProcessFigures start = reports.start_or(end);
    print_end(ledger, sink, start, end, reports.elapsed_seconds());
    const bool ok = passed(ledger, sink, start, end);
    say(ok ? QStringLiteral("soak passed") : QStringLiteral("soak FAILED"));
    return ok ? 0 : 1;
}
