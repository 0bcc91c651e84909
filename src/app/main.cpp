#include "main_window/start_up.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// Answers --help and --version with one line each, before any window system
// is needed; returns whether it did. Every other argument is Qt's.
bool answered_on_command_line(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("Usage: pondara [Qt options]: the host program for a load-cell weighing module on a "
                      "serial line; see pondara(1).");
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("pondara (PondaraV6) " PONDARA_VERSION);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (answered_on_command_line(argc, argv))
        return 0;
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral(PONDARA_APP_ID));
    return pondara::run_program();
}
