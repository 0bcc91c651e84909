#pragma once

class QWidget;

namespace pondara {

// SIGTERM, SIGINT and SIGHUP end the program as closing `main_window` does:
// the window closes with its dialogs (no hand-back) and message boxes, the
// event loop ends, every port closes and with it its lock file, and the
// program exits with status 0. A signal ignored when the program started
// stays ignored, so that `nohup pondara &` outlives its terminal. The watcher
// is a child of the window. False if it could not be set up; the signals then
// keep the action they had.
bool end_on_stop_signals(QWidget& main_window);

}  // namespace pondara
