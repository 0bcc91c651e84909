// pondara-sim: a simulated weighing module on a pseudo-terminal, published
// as a virtual port for the host program to open.

#include "fault.h"
#include "serial/signal_pipe.h"
#include "sim_console.h"
#include "sim_line.h"
#include "stdin_lines.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>

using namespace pondara::sim;
using pondara::SignalPipe;

namespace {

void say(const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

int fail(const QString& text)
{
    std::fputs(qPrintable(QStringLiteral("pondara-sim: ") + text + QLatin1Char('\n')), stderr);
    return 1;
}

// The settings taken from the command line.
struct Settings {
    int port = 1;
    int address = ModuleSim::default_address;
    double load = 0.0;
    bool drift = false;
    int delay_ms = 0;
    bool pacing = true;
    Fault fault = Fault::none;
    double fault_rate = 0.0;
    std::optional<std::uint32_t> seed;
    int unplug_after_s = 0;
};

// Reads the options into `settings`; returns an error message or nothing.
QString read_settings(const QCommandLineParser& parser, Settings& settings)
{
    if (parser.isSet(QStringLiteral("port"))) {
        const auto port = whole_number(parser.value(QStringLiteral("port")), 1, 999);
        if (!port)
            return QStringLiteral("--port takes 1..999");
        settings.port = static_cast<int>(*port);
    }
    if (parser.isSet(QStringLiteral("address"))) {
        const auto address = whole_number(parser.value(QStringLiteral("address")), 0, 255);
        if (!address)
            return QStringLiteral("--address takes 0..255");
        settings.address = static_cast<int>(*address);
    }
    if (parser.isSet(QStringLiteral("load"))) {
        bool ok = false;
        settings.load = parser.value(QStringLiteral("load")).toDouble(&ok);
        if (!ok || !std::isfinite(settings.load))
            return QStringLiteral("--load takes a number");
    }
    if (parser.isSet(QStringLiteral("delay"))) {
        const auto delay = whole_number(parser.value(QStringLiteral("delay")), 0, 60'000);
        if (!delay)
            return QStringLiteral("--delay takes 0..60000 (ms)");
        settings.delay_ms = static_cast<int>(*delay);
    }
    if (parser.isSet(QStringLiteral("fault"))) {
        const auto fault = fault_from_name(parser.value(QStringLiteral("fault")));
        if (!fault)
            return QStringLiteral("--fault takes one of: ") + fault_names().join(QLatin1Char(' '));
        settings.fault = *fault;
    }
    if (parser.isSet(QStringLiteral("fault-rate"))) {
        bool ok = false;
        settings.fault_rate = parser.value(QStringLiteral("fault-rate")).toDouble(&ok);
        if (!ok || !(settings.fault_rate >= 0.0 && settings.fault_rate <= 1.0))
            return QStringLiteral("--fault-rate takes 0..1");
    }
    if (parser.isSet(QStringLiteral("seed"))) {
        const auto seed = whole_number(parser.value(QStringLiteral("seed")), 0, 0xFFFFFFFFLL);
        if (!seed)
            return QStringLiteral("--seed takes 0..4294967295");
        settings.seed = static_cast<std::uint32_t>(*seed);
    }
    if (parser.isSet(QStringLiteral("unplug-after"))) {
        const auto seconds = whole_number(parser.value(QStringLiteral("unplug-after")), 1, 86'400);
        if (!seconds)
            return QStringLiteral("--unplug-after takes 1..86400 (s)");
        settings.unplug_after_s = static_cast<int>(*seconds);
    }
    settings.drift = parser.isSet(QStringLiteral("drift"));
    settings.pacing = !parser.isSet(QStringLiteral("no-pacing"));
    return {};
}

void add_options(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "A simulated weighing module on a pseudo-terminal, published as virtual port N\n"
        "($XDG_RUNTIME_DIR/pondara/comN). It answers requests for its address at 9600 baud\n"
        "and can spoil replies on purpose to exercise the host program.\n"
        "\n"
        "While it runs, type commands on standard input, one a line:\n"
        "  load X           put X weight units on the cell\n"
        "  drift on|off     let the load swing slowly around X\n"
        "  noise on|off     AD noise\n"
        "  address A        answer address A (0..255)\n"
        "  delay MS         wait MS ms before each reply\n"
        "  pacing on|off    9600-baud byte timing, or everything at once\n"
        "  fault NAME       spoil every reply; 'fault NAME once' spoils the next only;\n"
        "                   'fault none' clears; 'fault' shows\n"
        "  fault-rate P     spoil each reply with probability P (0..1), a random fault\n"
        "  seed S           reseed the noise and the random faults\n"
        "  unplug, replug   pull the cable (the host sees a hang-up), plug a new one in\n"
        "  unplug-after S   unplug S seconds from now (0 cancels)\n"
        "  state, stats     the settings; requests, replies and faults counted\n"
        "  help             the list of commands\n"
        "Faults: split (5 bytes, 20 ms, 3 bytes), twelve (4 bytes too many), stray (a byte\n"
        "ahead), truncated (5 bytes only), late (3 bytes now, 5 ahead of the next reply),\n"
        "header (wrong header), checksum (off by one), noreply, noise (random bytes 50 ms\n"
        "after the reply), unplug (pull the cable instead of replying).\n"
        "End of input does not stop the simulator; SIGINT or SIGTERM does."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Virtual port number N (default 1)."), QStringLiteral("N")},
        {QStringLiteral("address"), QStringLiteral("Module address A, 0..255 (default 1)."), QStringLiteral("A")},
        {QStringLiteral("load"), QStringLiteral("Load on the cell in weight units (default 0)."), QStringLiteral("X")},
        {QStringLiteral("drift"), QStringLiteral("Let the load swing slowly, for demonstrations.")},
        {QStringLiteral("delay"), QStringLiteral("Reply delay in ms (default 0)."), QStringLiteral("MS")},
        {QStringLiteral("no-pacing"), QStringLiteral("Send replies at once instead of at 9600 baud.")},
        {QStringLiteral("fault"), QStringLiteral("Spoil every reply this way (see above)."), QStringLiteral("NAME")},
        {QStringLiteral("fault-rate"), QStringLiteral("Probability per reply of a random fault, 0..1."),
         QStringLiteral("P")},
        {QStringLiteral("seed"), QStringLiteral("Seed for noise and random faults (default 1)."), QStringLiteral("S")},
        {QStringLiteral("unplug-after"), QStringLiteral("Unplug the line after SECONDS."), QStringLiteral("SECONDS")},
    });
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pondara-sim"));

    QCommandLineParser parser;
    add_options(parser);
    parser.process(app);
    Settings settings;
    if (const QString problem = read_settings(parser, settings); !problem.isEmpty())
        return fail(problem);

    SimLine line(settings.port);
    line.module().set_address(static_cast<std::uint8_t>(settings.address));
    line.module().set_load(settings.load);
    line.module().set_drift(settings.drift);
    line.set_reply_delay(std::chrono::milliseconds(settings.delay_ms));
    line.set_pacing(settings.pacing);
    line.set_fault(settings.fault);
    line.set_fault_rate(settings.fault_rate);
    if (settings.seed)
        line.set_seed(*settings.seed);
    line.set_unplug_after(std::chrono::seconds(settings.unplug_after_s));

    SignalPipe stop_signals({SIGINT, SIGTERM});
    if (!stop_signals.ok())
        return fail(QStringLiteral("cannot watch for SIGINT and SIGTERM"));
    QObject::connect(&stop_signals, &SignalPipe::received, &app, [](int) { QCoreApplication::quit(); });

    QString problem;
    if (!line.start(&problem))
        return fail(QStringLiteral("port %1: %2").arg(settings.port).arg(problem));
    say(QStringLiteral("pondara-sim: port %1 = %2 (link %3)")
            .arg(settings.port)
            .arg(line.device_path(), line.link_path()));

    QObject::connect(&line, &SimLine::unplugged, &app,
                     [&] { say(QStringLiteral("pondara-sim: port %1 unplugged").arg(line.port_number())); });
    StdinLines input;
    QObject::connect(&input, &StdinLines::line_read, &app, [&](const QString& text) {
        if (const QString answer = line.command(text); !answer.isEmpty())
            say(answer);
    });

    const int code = app.exec();
    line.stop();
    return code;
}
