// The MQTT publisher against a real mosquitto broker the test starts on a
// loopback port, with the main window polling the simulated module on a
// pseudo-terminal: the payloads of a fixed session, the line traffic of that
// session, remote zero, the broker absent, killed and back, and the last
// will when the real program is killed.

#include "hex.h"
#include "main_window/main_form.h"
#include "main_window/weighing_watch.h"
#include "mqtt_broker.h"
#include "publish/publisher.h"
#include "recording_sink.h"
#include "run_until.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "sim_line.h"
#include "virtual_port_links.h"

#include <QApplication>
#include <QDateTime>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace pondara;
using pondara::sim::Fault;
using pondara::sim::SimLine;
using pondara::test::BrokerClient;
using pondara::test::spaced_hex;

namespace {

constexpr int sim_port = 9;
constexpr int exchange_ms = 120;
const QString station = QStringLiteral("test/station/com9/addr1/");

// Each "time" field checked against the local time format (the test runs
// in China Standard Time) and then written as T, so that the rest of a
// payload can be compared as written by hand.
QStringList with_times_masked(const QStringList& lines)
{
    static const QRegularExpression time(
        QStringLiteral(R"re("time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d\d\d\+08:00")re"));
    QStringList masked;
    for (QString line : lines)
        masked.append(line.replace(time, QStringLiteral(R"("time":T)")));
    return masked;
}

}  // namespace

class TestMqttPublish : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void payloads_and_traffic_of_a_fixed_session();
    void remote_commands_data();
    void remote_commands();
    void unsent_request_said_at_once();
    void broker_absent_killed_and_back();
    void last_will_when_the_program_is_killed();

private:
    void start_publisher(bool commands);
    void exchange() const
    {
        m_form->poll_tick();
        QTest::qWait(exchange_ms);
    }
    void open_port()
    {
        m_form->open_comm_Click();
        QVERIFY(m_form->link().is_open());
    }
    // Waits for the publisher's connection under port 9 and address 1.
    bool online(const BrokerClient& client, int timeout_ms = 10000) const
    {
        return client.wait_for(station + "state", "online", timeout_ms);
    }

    QTemporaryDir m_runtime;
    std::unique_ptr<test::TestBroker> m_broker;
    std::unique_ptr<SimLine> m_line;
    test::RecordingSink m_sink;
    std::unique_ptr<MainForm> m_form;
    std::unique_ptr<Publisher> m_publisher;
    QByteArray m_wire;
    int m_queued = 0;  // commands the publisher queued
};

void TestMqttPublish::initTestCase() { QVERIFY(test::use_runtime_dir(m_runtime)); }

void TestMqttPublish::init()
{
    m_broker = std::make_unique<test::TestBroker>();
    QString error;
    QVERIFY2(m_broker->start(&error), qPrintable(error));
    m_line = std::make_unique<SimLine>(sim_port);
    m_line->module().set_noise(false);
    m_line->module().set_load(1000);
    QVERIFY2(m_line->start(&error), qPrintable(error));
    m_wire.clear();
    connect(m_line.get(), &SimLine::bytes_received, this, [this](const QByteArray& bytes) { m_wire += bytes; });
    m_sink.clear();
    m_form = std::make_unique<MainForm>(make_port_factory(), m_sink, [] { return PortResolver().mapping(); });
    m_form->findChild<QTimer*>("Timer1")->stop();
    m_form->findChild<QLineEdit*>("chuankou_num")->setText(QString::number(sim_port));
    m_queued = 0;
}

void TestMqttPublish::cleanup()
{
    m_publisher.reset();
    m_form.reset();
    m_line.reset();
    m_broker.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestMqttPublish::start_publisher(bool commands)
{
    PublishOptions options;
    options.enabled = true;
    options.broker.host = QStringLiteral("127.0.0.1");
    options.broker.port = m_broker->port();
    options.broker.client_id = QStringLiteral("tst_mqtt_publish");
    options.prefix = QStringLiteral("test/station");
    options.commands = commands;
    m_publisher = std::make_unique<Publisher>(options, m_form->link(), [this](const Command& command) {
        ++m_queued;
        m_form->SET_BUFF(command);
    });
    // As the program wires it.
    m_publisher->set_stability([this] { return m_form->weighing().reading().motion; });
    connect(&m_form->weighing(), &WeighingWatch::check_finished, m_publisher.get(), &Publisher::check_finished);
    m_publisher->start();
}

// A session written out by hand: the program starts on port 1, opens the
// simulated module on port 9, polls, loses the replies, gets them back and
// zeroes. Every message, and every byte on the line.
void TestMqttPublish::payloads_and_traffic_of_a_fixed_session()
{
    BrokerClient subscriber;
    QVERIFY(subscriber.subscribe(m_broker->port(), "test/#"));
    start_publisher(false);
    QVERIFY(subscriber.wait_for("test/station/com1/addr1/state", "online", 10000));
    open_port();
    QVERIFY(online(subscriber));
    exchange();
    exchange();
    m_line->set_fault(Fault::noreply);
    for (int i = 0; i < 4; ++i)
        exchange();
    m_line->set_fault(Fault::none);
    exchange();
    QTest::mouseClick(m_form->findChild<QPushButton*>("clr_command"), Qt::LeftButton);
    for (int i = 0; i < 7; ++i)
        exchange();

    const QString still = R"("stable":true,)";
    const QStringList expected {
        R"(test/station/com1/addr1/state online)",
        R"(test/station/com1/addr1/link silent)",
        // Port 9 opened: the old station says goodbye, the new one is online.
        R"(test/station/com1/addr1/state offline)",
        R"(test/station/com9/addr1/state online)",
        R"(test/station/com9/addr1/link silent)",
        // One weight value: too few for a verdict, so no "stable".
        R"(test/station/com9/addr1/link ok)",
        R"(test/station/com9/addr1/ad {"value":532288,"time":T,"stale":false,"link":"ok"})",
        R"(test/station/com9/addr1/weight {"value":1000,"time":T,"stale":false,"link":"ok"})",
        // Four requests unanswered: the values are no longer fresh.
        R"(test/station/com9/addr1/link silent)",
        R"(test/station/com9/addr1/ad {"value":532288,"time":T,"stale":true,"link":"silent"})",
        R"(test/station/com9/addr1/weight {"value":1000,"time":T,"stale":true,"link":"silent"})",
        R"(test/station/com9/addr1/link ok)",
        R"(test/station/com9/addr1/ad {"value":532288,"time":T,"stale":false,"link":"ok"})",
        // 置零, then three weight values of 0: still, and the zero confirmed.
        R"(test/station/com9/addr1/weight {"value":0,"time":T,"stale":false,"link":"ok"})",
        R"(test/station/com9/addr1/ad {"value":532288,"time":T,"stale":false,"link":"ok"})",
        R"(test/station/com9/addr1/weight {"value":0,"time":T,"stale":false,"link":"ok"})",
        R"(test/station/com9/addr1/ad {"value":532288,"time":T,"stale":false,"link":"ok"})",
        R"(test/station/com9/addr1/event {"command":"zero","source":"program","time":T,)"
        R"("request":"55 01 03 00 00 00 00 59","result":"answered","answer":"22 01 03 03 08 1F 40 90",)"
        R"("check":"confirmed","weight_after":0})",
        R"(test/station/com9/addr1/weight {"value":0,"time":T,)" + still + R"("stale":false,"link":"ok"})",
        R"(test/station/com9/addr1/ad {"value":532288,"time":T,)" + still + R"("stale":false,"link":"ok"})",
    };
    QVERIFY(subscriber.wait_for([&](const auto& got) { return got.size() >= expected.size(); }, 5000));
    QCOMPARE(with_times_masked(subscriber.lines()).join('\n'), expected.join('\n'));

    const QStringList requests {
        "55 01 01 00 00 00 00 57", "55 01 02 00 00 00 00 58",  // polling
        "55 01 01 00 00 00 00 57", "55 01 02 00 00 00 00 58",  // unanswered
        "55 01 01 00 00 00 00 57", "55 01 02 00 00 00 00 58",  // unanswered
        "55 01 01 00 00 00 00 57",  // answered again
        "55 01 03 00 00 00 00 59", "55 01 02 00 00 00 00 58",  // 置零, then polling
        "55 01 01 00 00 00 00 57", "55 01 02 00 00 00 00 58", "55 01 01 00 00 00 00 57",
        "55 01 02 00 00 00 00 58", "55 01 01 00 00 00 00 57",
    };
    QCOMPARE(spaced_hex(m_wire), requests.join(QLatin1Char(' ')));
    QCOMPARE(m_publisher->client().counters().dropped, 0u);
}

void TestMqttPublish::remote_commands_data()
{
    QTest::addColumn<bool>("commands");  // --mqtt-commands
    QTest::addColumn<QString>("leaf");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("retained");
    QTest::addColumn<bool>("zeroed");

    QTest::newRow("zero with --mqtt-commands") << true << "cmd/zero" << QByteArray() << false << true;
    QTest::newRow("zero without --mqtt-commands") << false << "cmd/zero" << QByteArray() << false << false;
    QTest::newRow("unknown command ignored") << true << "cmd/tare" << QByteArray() << false << false;
    QTest::newRow("zero with a payload ignored") << true << "cmd/zero" << QByteArray("1") << false << false;
    QTest::newRow("retained zero, an old one, ignored") << true << "cmd/zero" << QByteArray() << true << false;
}

void TestMqttPublish::remote_commands()
{
    QFETCH(bool, commands);
    QFETCH(QString, leaf);
    QFETCH(QByteArray, payload);
    QFETCH(bool, retained);
    QFETCH(bool, zeroed);

    BrokerClient client;
    QVERIFY(client.subscribe(m_broker->port(), "test/#"));
    // A retained command waits at the broker for the publisher's subscription.
    if (retained)
        QVERIFY(client.publish(station + leaf, payload, true));
    open_port();
    start_publisher(commands);
    QVERIFY(online(client));
    exchange();
    if (!retained)
        QVERIFY(client.publish(station + leaf, payload));
    if (commands && !zeroed) {
        // Messages come in order: once a valid zero is queued, the one
        // before it has been seen and ignored.
        QVERIFY(client.publish(station + "cmd/zero", {}));
        QVERIFY(test::run_until([&] { return m_queued > 0; }, 5000));
        QCOMPARE(m_queued, 1);
        return;
    }
    if (zeroed)
        QVERIFY(test::run_until([&] { return m_queued > 0; }, 5000));
    else
        test::run_for(500);
    for (int i = 0; i < 7; ++i)
        exchange();
    QCOMPARE(m_queued, zeroed ? 1 : 0);
    QCOMPARE(spaced_hex(m_wire.mid(8, 8)),
             zeroed ? QStringLiteral("55 01 03 00 00 00 00 59") : QStringLiteral("55 01 02 00 00 00 00 58"));
    if (zeroed) {
        const QString event = R"(test/station/com9/addr1/event {"command":"zero","source":"mqtt","time":T,)"
                              R"("request":"55 01 03 00 00 00 00 59","result":"answered",)"
                              R"("answer":"22 01 03 03 08 1F 40 90","check":"confirmed","weight_after":0})";
        QVERIFY(client.wait_for(
            [](const auto& got) {
                return std::any_of(got.cbegin(), got.cend(), [](const auto& m) { return m.topic.endsWith("event"); });
            },
            5000));
        QCOMPARE(with_times_masked(client.lines()).filter("/event "), QStringList {event});
        QCOMPARE(m_sink.texts(), QStringList {QStringLiteral("零点设置成功")});
    }
}

// A 置零 the port did not take (its output still busy), as the link tells
// of it: the event says so at once, not "no_reply" a tick later.
void TestMqttPublish::unsent_request_said_at_once()
{
    BrokerClient subscriber;
    QVERIFY(subscriber.subscribe(m_broker->port(), "test/#"));
    open_port();
    start_publisher(false);
    QVERIFY(online(subscriber));
    ModuleEvent refused;
    refused.kind = ModuleEvent::Kind::request_sent;
    refused.unsent = true;
    refused.command = make_command(Leixing::zero);
    refused.bytes = build_request(1, refused.command);
    refused.wall_ms = QDateTime::currentMSecsSinceEpoch();
    emit m_form->link().module_event(refused);
    QVERIFY(subscriber.wait_for(
        [](const auto& got) {
            return std::any_of(got.cbegin(), got.cend(), [](const auto& m) { return m.topic.endsWith("event"); });
        },
        5000));
    QCOMPARE(with_times_masked(subscriber.lines()).filter("/event "),
             QStringList {R"(test/station/com9/addr1/event {"command":"zero","source":"program","time":T,)"
                          R"("request":"55 01 03 00 00 00 00 59","result":"not_sent"})"});
}

// The broker is not there at the start, comes, is killed and comes back:
// polling goes on at every tick, and each time the broker is back the
// retained topics are there again for a new subscriber.
void TestMqttPublish::broker_absent_killed_and_back()
{
    m_broker->kill();
    start_publisher(false);
    open_port();
    for (int i = 0; i < 3; ++i)
        exchange();
    QCOMPARE(m_wire.size(), 3 * 8);
    QCOMPARE(m_publisher->client().state(), MqttClient::State::waiting);
    QVERIFY(m_publisher->client().counters().dropped > 0);  // the readings it could not send
    QVERIFY2(m_publisher->status_text().startsWith(QStringLiteral("MQTT：未连接 127.0.0.1:")),
             qPrintable(m_publisher->status_text()));

    for (int round = 1; round <= 2; ++round) {
        QString error;
        QVERIFY2(m_broker->start(&error), qPrintable(error));
        QVERIFY(test::run_until(
            [&] { return m_publisher->client().counters().connections == static_cast<std::uint64_t>(round); }, 40000));
        test::run_for(200);
        BrokerClient late;
        QVERIFY(late.subscribe(m_broker->port(), "test/#"));
        QVERIFY(late.wait_for([](const auto& got) { return got.size() >= 2; }, 5000));
        QStringList retained = late.lines();
        retained.sort();
        QCOMPARE(retained, (QStringList {"(retained) test/station/com9/addr1/link ok",
                                         "(retained) test/station/com9/addr1/state online"}));
        exchange();
        QVERIFY(late.wait_for([](const auto& got) { return got.size() >= 3; }, 5000));

        m_broker->kill();
        const qsizetype before = m_wire.size();
        for (int i = 0; i < 3; ++i)
            exchange();
        QCOMPARE(m_wire.size(), before + 3 * 8);
        QVERIFY(test::run_until([&] { return m_publisher->client().state() != MqttClient::State::connected; }, 5000));
    }
}

// The real program, killed with SIGKILL: the broker tells the subscribers
// the station went away.
void TestMqttPublish::last_will_when_the_program_is_killed()
{
    BrokerClient subscriber;
    QVERIFY(subscriber.subscribe(m_broker->port(), "test/will/#"));
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(PONDARA_PROGRAM_BINARY, {"--mqtt", m_broker->url(), "--mqtt-prefix", "test/will"});
    QVERIFY(program.waitForStarted());
    const auto stop_left_over = qScopeGuard([&] {
        program.kill();
        program.waitForFinished(5000);
    });
    QVERIFY(subscriber.wait_for("test/will/com1/addr1/state", "online", 20000));
    QCOMPARE(::kill(static_cast<pid_t>(program.processId()), SIGKILL), 0);
    QVERIFY(subscriber.wait_for("test/will/com1/addr1/state", "offline", 10000));

    BrokerClient late;
    QVERIFY(late.subscribe(m_broker->port(), "test/will/+/+/state"));
    QVERIFY(late.wait_for([](const auto& got) { return !got.isEmpty(); }, 5000));
    QCOMPARE(late.lines(), QStringList {"(retained) test/will/com1/addr1/state offline"});
}

int main(int argc, char* argv[])
{
    qputenv("TZ", "Asia/Shanghai");
    QApplication app(argc, argv);
    TestMqttPublish test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mqtt_publish.moc"
