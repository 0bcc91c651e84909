#include "main_window/main_form.h"
#include "main_window/stop_signals.h"
#include "publish/publish_options.h"
#include "publish/publisher.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "ui/box_message_sink.h"
#include "ui/look.h"

#include <QApplication>
#include <QSysInfo>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Answers --help and --version with one line each, before any window system
// is needed; returns whether it did. The --mqtt options are read later, and
// every other argument is Qt's.
bool answered_on_command_line(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("Usage: pondara [--mqtt mqtt://HOST[:PORT] [--mqtt-prefix TOPIC] [--mqtt-user USER] "
                      "[--mqtt-commands]] [Qt options]: the host program for a load-cell weighing module on a "
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

// The publisher for the main window's link, when --mqtt asks for one;
// remote zero goes through SET_BUFF, as the 置零 button does.
std::unique_ptr<pondara::Publisher> make_publisher(const pondara::PublishOptions& options, pondara::MainForm& main_form)
{
    if (!options.enabled)
        return nullptr;
    auto publisher = std::make_unique<pondara::Publisher>(
        options, main_form.link(), [&main_form](const pondara::Command& command) { main_form.SET_BUFF(command); });
    QObject::connect(&main_form, &pondara::MainForm::link_added, publisher.get(), &pondara::Publisher::watch);
    main_form.set_link_notes([publisher = publisher.get()] { return publisher->status_text(); });
    publisher->start();
    return publisher;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (answered_on_command_line(argc, argv))
        return 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PondaraV6"));
    QApplication::setDesktopFileName(QStringLiteral(PONDARA_APP_ID));
    const pondara::PublishOptions publish
        = pondara::read_publish_options(QApplication::arguments(), qEnvironmentVariable("PONDARA_MQTT_PASSWORD"),
                                        QSysInfo::machineHostName(), QApplication::applicationPid());
    if (!publish.error.isEmpty()) {
        std::fprintf(stderr, "pondara: %s\n", qPrintable(publish.error));
        return 2;
    }

    pondara::BoxMessageSink messages;
    pondara::MainForm main_form(pondara::make_port_factory(), messages,
                                [] { return pondara::PortResolver().mapping(); });
    const auto publisher = make_publisher(publish, main_form);
    pondara::end_on_stop_signals(main_form);
    main_form.show();
    pondara::look::centre_on_screen(&main_form);
    return QApplication::exec();
}
