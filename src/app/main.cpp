#include "main_window/main_form.h"
#include "main_window/start_up.h"
#include "main_window/weighing_watch.h"
#include "publish/publish_options.h"
#include "publish/publisher.h"
#include "weighing/motion.h"

#include <QApplication>
#include <QSysInfo>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace {

constexpr char usage[]
    = "Usage: pondara [--motion-band B] [--motion-time S] [--record DIR] [--mqtt mqtt://HOST[:PORT] "
      "[--mqtt-prefix TOPIC] [--mqtt-user USER] [--mqtt-commands]] [Qt options]: the host program for a load-cell "
      "weighing module on a serial line; see pondara(1).\n"
      "  --motion-band B  the weight is still (稳定) while its values stay within B counts, 0..50 (default 1)\n"
      "  --motion-time S  over the last S seconds, 0.4..10 (default 1.0); a weight value comes every 0.4 s and\n"
      "                   at least 3 are needed\n"
      "  --record DIR     open the port and record into DIR (made when missing) from the start\n"
      "  --mqtt URL       publish the readings to the MQTT broker at mqtt://HOST[:PORT] (port 1883 by default)\n"
      "  --mqtt-prefix T  the topics' root (default pondara/<host name>)\n"
      "  --mqtt-user U    the broker's user name; the password from PONDARA_MQTT_PASSWORD\n"
      "  --mqtt-commands  take remote zero on <prefix>/com<N>/addr<A>/cmd/zero";

// Answers --help (the usage) and --version (one line), before any window
// system is needed; returns whether it did. The --mqtt options are read
// later, and every other argument is Qt's.
bool answered_on_command_line(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts(usage);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("pondara (PondaraV6) " PONDARA_VERSION);
            return true;
        }
    }
    return false;
}

// A number that is all of `text` and lies in low..high.
std::optional<double> number_in(const char* text, double low, double high)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(value >= low && value <= high))
        return std::nullopt;
    return value;
}

// Takes --motion-band, --motion-time and --record (as "--name value" or
// "--name=value") out of the arguments into `rule` and `record_folder`;
// false, with the reason on standard error, for a missing or bad value.
// Every other argument is Qt's.
bool take_options(int& argc, char* argv[], pondara::MotionRule& rule, QString& record_folder)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, "--record", 8) == 0 && (arg[8] == '\0' || arg[8] == '=')) {
            const char* folder = arg[8] == '=' ? arg + 9 : (i + 1 < argc ? argv[++i] : nullptr);
            if (!folder || *folder == '\0') {
                std::fputs("pondara: --record needs a folder\n", stderr);
                return false;
            }
            record_folder = QString::fromLocal8Bit(folder);
            continue;
        }
        const bool band = std::strncmp(arg, "--motion-band", 13) == 0 && (arg[13] == '\0' || arg[13] == '=');
        const bool time = std::strncmp(arg, "--motion-time", 13) == 0 && (arg[13] == '\0' || arg[13] == '=');
        if (!band && !time) {
            argv[kept++] = argv[i];
            continue;
        }
        const char* value = arg[13] == '=' ? arg + 14 : (i + 1 < argc ? argv[++i] : nullptr);
        const auto number = value ? (band ? number_in(value, 0, pondara::MotionRule::max_band)
                                          : number_in(value, pondara::MotionRule::min_time_ms / 1000.0,
                                                      pondara::MotionRule::max_time_ms / 1000.0))
                                  : std::nullopt;
        if (!number || (band && *number != std::floor(*number))) {
            std::fprintf(stderr, "pondara: %s needs %s, not \"%s\"\n", band ? "--motion-band" : "--motion-time",
                         band ? "a whole number of counts 0..50" : "seconds 0.4..10", value ? value : "");
            return false;
        }
        if (band)
            rule.band = static_cast<std::uint32_t>(*number);
        else
            rule.time_ms = std::llround(*number * 1000.0);
    }
    argc = kept;
    argv[kept] = nullptr;
    return true;
}

// The publisher for the main window's link, when --mqtt asks for one, with
// the window's verdict on the weight and its checks of zero and calibration;
// remote zero goes through SET_BUFF, as the 置零 button does.
std::unique_ptr<pondara::Publisher> make_publisher(const pondara::PublishOptions& options, pondara::MainForm& main_form)
{
    if (!options.enabled)
        return nullptr;
    auto publisher = std::make_unique<pondara::Publisher>(
        options, main_form.link(), [&main_form](const pondara::Command& command) { main_form.SET_BUFF(command); });
    QObject::connect(&main_form, &pondara::MainForm::link_added, publisher.get(), &pondara::Publisher::watch);
    main_form.set_link_notes([publisher = publisher.get()] { return publisher->status_text(); });
    publisher->set_stability([&main_form] { return main_form.weighing().reading().motion; });
    QObject::connect(&main_form.weighing(), &pondara::WeighingWatch::check_finished, publisher.get(),
                     &pondara::Publisher::check_finished);
    publisher->start();
    return publisher;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (answered_on_command_line(argc, argv))
        return 0;
    pondara::MotionRule rule;
    QString record_folder;
    if (!take_options(argc, argv, rule, record_folder))
        return 2;
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral(PONDARA_APP_ID));
    const pondara::PublishOptions publish
        = pondara::read_publish_options(QApplication::arguments(), qEnvironmentVariable("PONDARA_MQTT_PASSWORD"),
                                        QSysInfo::machineHostName(), QApplication::applicationPid());
    if (!publish.error.isEmpty()) {
        std::fprintf(stderr, "pondara: %s\n", qPrintable(publish.error));
        return 2;
    }

    std::unique_ptr<pondara::Publisher> publisher;
    pondara::StartUpHooks hooks;
    hooks.before_show = [&](pondara::MainForm& main_form) {
        main_form.set_motion_rule(rule);
        publisher = make_publisher(publish, main_form);
        // The publisher goes before the window it watches.
        QObject::connect(&app, &QCoreApplication::aboutToQuit, [&publisher, &main_form] {
            main_form.set_link_notes({});
            publisher.reset();
        });
    };
    if (!record_folder.isEmpty()) {
        // A test bench records unattended: from the first reading on.
        hooks.after_show = [&record_folder](pondara::MainForm& main_form) {
            main_form.start_recording(record_folder);
            main_form.open_comm_Click();
        };
    }
    return pondara::run_program(hooks);
}
