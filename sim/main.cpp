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
    QCommandLineParser parser;
    add_options(parser);
    parser.process(app);
    const CommandLine options = read_command_line(parser);
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
