// pondara-sim: a simulated weighing module on a pseudo-terminal, published
// as a virtual port for the host program to open.

#include "platform/signal_pipe.h"
#include "sim_console.h"
#include "sim_line.h"
#include "stdin_lines.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <vector>

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

void add_options(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("A simulated weighing module on a pseudo-terminal, published as virtual port N\n"
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
                       "after the reply), unplug (pull the cable instead of replying), fakezero (acknowledge a\n"
                       "zero without taking it: the weight stays).\n"
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

// The options that take a value, in the order their errors are reported.
const char* const value_options[] = {"port", "address", "load", "delay", "fault", "fault-rate", "seed", "unplug-after"};

// What the command line asks for: the port, and the settings to give the
// line before it starts.
struct CommandLine {
    int port = 1;
    std::vector<Command> settings;
    QString error;
};

CommandLine read_command_line(const QCoreApplication& app)
{
    QCommandLineParser parser;
    add_options(parser);
    parser.process(app);
    CommandLine result;
    QList<std::pair<QString, QString>> given;
    for (const char* name : value_options)
        if (parser.isSet(QLatin1String(name)))
            given.append({QLatin1String(name), parser.value(QLatin1String(name))});
    if (parser.isSet(QStringLiteral("drift")))
        given.append({QStringLiteral("drift"), QStringLiteral("on")});
    if (parser.isSet(QStringLiteral("no-pacing")))
        given.append({QStringLiteral("pacing"), QStringLiteral("off")});
    for (const auto& [name, value] : given) {
        const Parsed parsed = parse_setting(name, value);
        if (!parsed.command) {
            result.error = QStringLiteral("--") + parsed.error;
            return result;
        }
        if (parsed.command->verb == Verb::port)
            result.port = static_cast<int>(std::get<long long>(parsed.command->value));
        else
            result.settings.push_back(*parsed.command);
    }
    return result;
}

// Typed commands go to the line; their answers to standard output.
void attach_console(StdinLines& input, SimLine& line)
{
    QObject::connect(&input, &StdinLines::line_read, &line, [&line](const QString& text) {
        if (const QString answer = run_console_command(line, text); !answer.isEmpty())
            say(answer);
    });
    QObject::connect(&line, &SimLine::unplugged, &line,
                     [&line] { say(QStringLiteral("pondara-sim: port %1 unplugged").arg(line.port_number())); });
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pondara-sim"));
    const CommandLine options = read_command_line(app);
    if (!options.error.isEmpty())
        return fail(options.error);

    SimLine line(options.port);
    for (const Command& setting : options.settings)
        run_command(line, setting);

    SignalPipe stop_signals({SIGINT, SIGTERM});
    if (!stop_signals.ok())
        return fail(QStringLiteral("cannot watch for SIGINT and SIGTERM"));
    QObject::connect(&stop_signals, &SignalPipe::received, &app, [](int) { QCoreApplication::quit(); });

    if (QString problem; !line.start(&problem))
        return fail(QStringLiteral("port %1: %2").arg(options.port).arg(problem));
    say(QStringLiteral("pondara-sim: port %1 = %2 (link %3)")
            .arg(options.port)
            .arg(line.device_path(), line.link_path()));

    StdinLines input;
    attach_console(input, line);
    const int code = app.exec();
    line.stop();
    return code;
}
