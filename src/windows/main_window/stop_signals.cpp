#include "main_window/stop_signals.h"

#include "platform/signal_pipe.h"

#include <QCoreApplication>
#include <QWidget>

#include <csignal>

namespace pondara {

bool end_on_stop_signals(QWidget& main_window)
{
    auto* watcher = new SignalPipe({SIGTERM, SIGINT, SIGHUP}, &main_window);
    QObject::connect(watcher, &SignalPipe::received, &main_window, [&main_window] {
        main_window.close();
        // Ends the loop also if a window the main window does not own is
        // still open, or a nested loop (a context menu) runs.
        QCoreApplication::quit();
    });
    return watcher->ok();
}

}  // namespace pondara
