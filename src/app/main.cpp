#include "main_window/main_form.h"
#include "main_window/stop_signals.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "ui/box_message_sink.h"
#include "ui/look.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// Answers --help and --version with one line each, before any window system
// is needed; returns whether it did, and the exit status in `status`. Finds
// the folder of --record DIR. Every other argument is Qt's.
bool answered_on_command_line(int argc, char* argv[], QString& record_folder, int& status)
{
    status = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("Usage: pondara [--record DIR] [Qt options]: the host program for a load-cell weighing "
                      "module on a serial line; --record DIR opens the port and records into DIR from the start. "
                      "See pondara(1).");
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("pondara (PondaraV6) " PONDARA_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--record") == 0) {
            if (i + 1 == argc || argv[i + 1][0] == '\0') {
                std::fputs("pondara: --record needs a folder\n", stderr);
                status = 2;
                return true;
            }
            record_folder = QString::fromLocal8Bit(argv[++i]);
        }
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[])
{
    QString record_folder;
    int status = 0;
    if (answered_on_command_line(argc, argv, record_folder, status))
        return status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PondaraV6"));
    QApplication::setDesktopFileName(QStringLiteral(PONDARA_APP_ID));

    pondara::BoxMessageSink messages;
    pondara::MainForm main_form(pondara::make_port_factory(), messages,
                                [] { return pondara::PortResolver().mapping(); });
    pondara::end_on_stop_signals(main_form);
    main_form.show();
    pondara::look::centre_on_screen(&main_form);
    if (!record_folder.isEmpty()) {
        // A test bench records unattended: from the first reading on.
        main_form.start_recording(record_folder);
        main_form.open_comm_Click();
    }
    return QApplication::exec();
}
