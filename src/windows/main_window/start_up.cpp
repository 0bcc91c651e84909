#include "main_window/start_up.h"

#include "main_window/main_form.h"
#include "main_window/stop_signals.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "ui/box_message_sink.h"
#include "ui/look.h"

#include <QApplication>

namespace pondara {

int run_program(const StartUpHooks& hooks)
{
    QApplication::setApplicationName(QStringLiteral("PondaraV6"));
    BoxMessageSink messages;
    MainForm main_form(make_port_factory(), messages, [] { return PortResolver().mapping(); });
    end_on_stop_signals(main_form);
    if (hooks.before_show)
        hooks.before_show(main_form);
    main_form.show();
    look::centre_on_screen(&main_form);
    if (hooks.after_show)
        hooks.after_show(main_form);
    return QApplication::exec();
}

}  // namespace pondara
