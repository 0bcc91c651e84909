#pragma once

#include <functional>

namespace pondara {

class MainForm;

// What a caller may add to the program's start-up: `before_show` gets the
// main window built and not yet shown, `after_show` the window shown in the
// centre of the screen, before the event loop runs. The program adds
// nothing; the benchmark watches for the first paint and presses buttons.
struct StartUpHooks {
    std::function<void(MainForm&)> before_show;
    std::function<void(MainForm&)> after_show;
};

// The program once its QApplication exists: names the application, builds
// the main window on the machine's serial ports with message boxes for its
// messages, lets SIGTERM, SIGINT and SIGHUP end it as closing the window
// does, shows it in the centre of the screen and runs the event loop until
// the window closes. Returns the event loop's exit code.
int run_program(const StartUpHooks& hooks = {});

}  // namespace pondara
