// pondara-bench-mqtt: the MQTT publisher's figures, against a mosquitto
// broker this run starts on a loopback port.
//
//   latency   the real MainForm and Publisher in this process, the simulated
//             module on a pseudo-terminal with pacing off (each reply is one
//             8-byte write, timed as the module hands it over), and a
//             subscriber on a libmosquitto thread of its own, timing each
//             message as it arrives: reply to subscriber, median and p99;
//   CPU       two children of this program in host mode, each the main
//             window polling its own simulated line on its own timer, one
//             publishing and one not: their on-CPU time, summed by role over
//             six rounds of a third of the window each, the roles swapped
//             from round to round, so that neither child's line nor its
//             place on the machine leans the figure either way; beside them,
//             in the same rounds and roles, two bare libmosquitto clients
//             waking as often, one publishing a message of the same size at
//             each wake-up: what any client pays for the messages alone;
//   killed    the publishing child's requests per second while the broker
//             is killed for 10 s, and the seconds from the broker's restart
//             until a new subscriber finds the retained state "online".
//
// Options: --exchanges N (default 1000), --window S (CPU window, default
// 30). Prints "name value" lines; --host and --bare are the children's modes.

#include "bench_clock.h"
#include "bench_stats.h"
#include "main_window/main_form.h"
#include "main_window/stop_signals.h"
#include "main_window/weighing_watch.h"
#include "mqtt_broker.h"
#include "publish/publisher.h"
#include "run_until.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "sim_line.h"
#include "ui/box_message_sink.h"
#include "virtual_port_links.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <mosquitto.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

using namespace pondara;
using pondara::bench::now_ns;

namespace {

constexpr int latency_port = 1;
constexpr int publishing_port = 2;
constexpr int plain_port = 3;

int option(const QStringList& args, const QString& name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? std::max(1, args[at + 1].toInt()) : fallback;
}

void print(const char* name, double value) { std::printf("%s %.6f\n", name, value); }

std::unique_ptr<Publisher> make_publisher(MainForm& form, int broker_port, const QString& prefix)
{
    PublishOptions options;
    options.enabled = true;
    options.broker.host = QStringLiteral("127.0.0.1");
    options.broker.port = broker_port;
    options.broker.client_id = prefix + QString::number(QCoreApplication::applicationPid());
    options.prefix = prefix;
    auto publisher = std::make_unique<Publisher>(options, form.link(),
                                                 [&form](const Command& command) { form.SET_BUFF(command); });
    publisher->set_stability([&form] { return form.weighing().reading().motion; });
    publisher->start();
    return publisher;
}

// A child: the main window on `port`, opened and polling on its own timer,
// until SIGTERM ends it; publishing to the broker on `broker_port` from a
// "1" on its standard input until a "0".
int host(int port, int broker_port)
{
    BoxMessageSink messages;
    MainForm form(make_port_factory(), messages, [] { return PortResolver().mapping(); });
    form.findChild<QLineEdit*>("chuankou_num")->setText(QString::number(port));
    form.show();
    form.open_comm_Click();
    // SIGTERM closes the port and with it its lock file, as in the program.
    end_on_stop_signals(form);
    std::unique_ptr<Publisher> publisher;
    QSocketNotifier roles(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&roles, &QSocketNotifier::activated, [&] {
        char role = 0;
        if (::read(STDIN_FILENO, &role, 1) != 1)
            roles.setEnabled(false);
        else if (role == '1' && !publisher)
            publisher = make_publisher(form, broker_port, QStringLiteral("bench/host"));
        else if (role == '0')
            publisher.reset();
    });
    return QApplication::exec();
}

// A bare client: libmosquitto alone, connected to the broker on
// `broker_port`, waking every 200 ms as the program's polling does, and from
// a "1" on its standard input until a "0" publishing at each wake-up one QoS 0
// message of a reading's size, written at once as the program's publisher
// does. Its own poll loop, so that nothing but the library runs.
int bare(int broker_port)
{
    using namespace std::chrono;
    mosquitto_lib_init();
    mosquitto* mosq = mosquitto_new(nullptr, true, nullptr);
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    if (mosquitto_connect(mosq, "127.0.0.1", broker_port, 30) != MOSQ_ERR_SUCCESS)
        qFatal("the bare client found no broker");
    const QByteArray topic = "bench/host/bare/weight";
    const QByteArray payload
        = R"({"value":1500,"time":"2026-12-08T10:30:00.123+08:00","stable":true,"stale":false,"link":"ok"})";
    bool publishing = false;
    auto tick = steady_clock::now();
    for (;;) {
        tick += milliseconds(200);
        for (;;) {
            const auto wait = duration_cast<milliseconds>(tick - steady_clock::now()).count();
            pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {mosquitto_socket(mosq), POLLIN, 0}};
            if (wait <= 0 || ::poll(fds, 2, static_cast<int>(wait)) <= 0)
                break;
            if (fds[0].revents) {
                char role = 0;
                if (::read(STDIN_FILENO, &role, 1) != 1)
                    return 0;
                publishing = role == '1';
            }
            if (fds[1].revents)
                mosquitto_loop_read(mosq, 1);
        }
        if (publishing)
            mosquitto_publish(mosq, nullptr, topic.constData(), static_cast<int>(payload.size()), payload.constData(),
                              0, false);
        mosquitto_loop_misc(mosq);
    }
}

void latency(int broker_port, int exchanges)
{
    sim::SimLine line(latency_port);
    line.set_pacing(false);
    QString error;
    if (!line.start(&error))
        qFatal("%s", qPrintable(error));
    std::vector<std::int64_t> handed_over;
    QObject::connect(&line, &sim::SimLine::reply_sent, [&] { handed_over.push_back(now_ns()); });

    test::BrokerClient subscriber;
    if (!subscriber.subscribe(broker_port, QStringLiteral("bench/latency/+/+/+")))
        qFatal("no subscription");
    BoxMessageSink messages;
    MainForm form(make_port_factory(), messages, [] { return PortResolver().mapping(); });
    form.findChild<QTimer*>("Timer1")->stop();
    form.findChild<QLineEdit*>("chuankou_num")->setText(QString::number(latency_port));
    form.open_comm_Click();
    const auto publisher = make_publisher(form, broker_port, QStringLiteral("bench/latency"));
    const auto readings = [&] {
        int count = 0;
        for (const auto& message : subscriber.messages())
            count += message.topic.endsWith(QLatin1String("/ad")) || message.topic.endsWith(QLatin1String("/weight"));
        return count;
    };
    test::run_until([&] { return publisher->client().state() == MqttClient::State::connected; }, 10000);
    subscriber.clear();
    handed_over.clear();

    std::vector<double> latencies_ms;
    for (int i = 0; i < exchanges; ++i) {
        form.poll_tick();
        if (!test::run_until([&] { return readings() > i; }, 1000))
            qFatal("reading %d never reached the subscriber", i);
        test::run_for(2);
    }
    std::vector<std::int64_t> received;
    for (const auto& message : subscriber.messages()) {
        if (message.topic.endsWith(QLatin1String("/ad")) || message.topic.endsWith(QLatin1String("/weight")))
            received.push_back(message.received_ns);
    }
    for (std::size_t i = 0; i < received.size() && i < handed_over.size(); ++i)
        latencies_ms.push_back(static_cast<double>(received[i] - handed_over[i]) / 1e6);
    print("mqtt_latency_median_ms", bench::median(latencies_ms));
    print("mqtt_latency_p99_ms", bench::quantile(latencies_ms, 0.99));
    print("mqtt_latency_count", static_cast<double>(latencies_ms.size()));
}

// On-CPU time of all the process's threads, in ns from the scheduler.
double cpu_seconds(qint64 pid)
{
    double total_ns = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (stat.open(QIODevice::ReadOnly))
            total_ns += stat.readAll().split(' ').value(0).toDouble();
    }
    return total_ns / 1e9;
}

void cpu_and_killed_broker(test::TestBroker& broker, int window_s)
{
    sim::SimLine publishing_line(publishing_port);
    sim::SimLine plain_line(plain_port);
    QString error;
    if (!publishing_line.start(&error) || !plain_line.start(&error))
        qFatal("%s", qPrintable(error));
    std::vector<std::int64_t> arrivals;
    QObject::connect(&publishing_line, &sim::SimLine::bytes_received,
                     [&](const QByteArray& bytes) { arrivals.insert(arrivals.end(), bytes.size() / 8, now_ns()); });
    test::BrokerClient subscriber;
    if (!subscriber.subscribe(broker.port(), QStringLiteral("bench/host/#")))
        qFatal("no subscription");

    QProcess children[2];
    QProcess bare_clients[2];
    const int ports[2] = {publishing_port, plain_port};
    for (int i = 0; i < 2; ++i) {
        children[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
        children[i].start(QCoreApplication::applicationFilePath(),
                          {"--host", QString::number(ports[i]), QString::number(broker.port())});
        bare_clients[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
        bare_clients[i].start(QCoreApplication::applicationFilePath(), {"--bare", QString::number(broker.port())});
    }
    // Child 0 publishes in the even rounds and for the rest of the run.
    const auto publishing = [&](QProcess* pair, int which) {
        pair[which].write("1");
        pair[1 - which].write("0");
    };
    constexpr int rounds = 6;
    const int round_ms = window_s * 1000 / 3;
    double by_role[2] = {0, 0};  // publishing, plain
    double bare_by_role[2] = {0, 0};
    for (int round = 0; round < rounds; ++round) {
        const int which = round % 2;
        publishing(children, which);
        publishing(bare_clients, which);
        test::run_for(3000);  // connected, and the retained topics sent
        const qint64 pids[4] = {children[which].processId(), children[1 - which].processId(),
                                bare_clients[which].processId(), bare_clients[1 - which].processId()};
        double before[4];
        for (int i = 0; i < 4; ++i)
            before[i] = cpu_seconds(pids[i]);
        test::run_for(round_ms);
        by_role[0] += cpu_seconds(pids[0]) - before[0];
        by_role[1] += cpu_seconds(pids[1]) - before[1];
        bare_by_role[0] += cpu_seconds(pids[2]) - before[2];
        bare_by_role[1] += cpu_seconds(pids[3]) - before[3];
    }
    print("mqtt_cpu_publishing_s", by_role[0]);
    print("mqtt_cpu_plain_s", by_role[1]);
    print("mqtt_cpu_bare_publishing_s", bare_by_role[0]);
    print("mqtt_cpu_bare_idle_s", bare_by_role[1]);
    print("mqtt_cpu_window_s", rounds * round_ms / 1000.0);
    for (QProcess& client : bare_clients) {
        client.terminate();
        client.waitForFinished();
    }
    publishing(children, 0);
    test::run_for(3000);

    broker.kill();
    const std::int64_t killed = now_ns();
    test::run_for(10'000);
    const std::int64_t back = now_ns();
    const auto in_window = std::count_if(arrivals.begin(), arrivals.end(),
                                         [&](std::int64_t t) { return t >= killed && t < killed + 10'000'000'000; });
    print("mqtt_killed_requests_per_s", static_cast<double>(in_window) / 10.0);
    if (!broker.start(&error))
        qFatal("%s", qPrintable(error));
    test::BrokerClient late;
    late.subscribe(broker.port(), QStringLiteral("bench/host/+/+/state"));
    if (late.wait_for([](const auto& got) { return !got.isEmpty() && got.last().payload == "online"; }, 60'000))
        print("mqtt_back_online_s", static_cast<double>(now_ns() - back) / 1e9);
    for (QProcess& child : children) {
        child.terminate();
        child.waitForFinished();
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc > 2 && std::strcmp(argv[1], "--bare") == 0)
        return bare(std::atoi(argv[2]));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.value(1) == QLatin1String("--host"))
        return host(args.value(2).toInt(), args.value(3).toInt());

    QTemporaryDir runtime;
    if (!test::use_runtime_dir(runtime))
        qFatal("no runtime folder");
    test::TestBroker broker;
    QString error;
    if (!broker.start(&error))
        qFatal("%s", qPrintable(error));
    latency(broker.port(), option(args, QStringLiteral("--exchanges"), 1000));
    cpu_and_killed_broker(broker, option(args, QStringLiteral("--window"), 30));
    return 0;
}
