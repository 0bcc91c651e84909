#include "main_window/box_message_sink.h"
#include "main_window/look.h"
#include "main_window/main_form.h"
#include "main_window/stop_signals.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PondaraV6"));

    pondara::BoxMessageSink messages;
    pondara::MainForm main_form(pondara::make_port_factory(), messages,
                                [] { return pondara::PortResolver().mapping(); });
    pondara::end_on_stop_signals(main_form);
    main_form.show();
    pondara::look::centre_on_screen(&main_form);
    return QApplication::exec();
}
