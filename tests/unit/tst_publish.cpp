// The publisher's pure parts: its command-line options and its payloads,
// each against values written out by hand.

#include "publish/payloads.h"
#include "publish/publish_options.h"

#include <QTest>

#include <ctime>

using namespace pondara;

Q_DECLARE_METATYPE(pondara::Exchange)
Q_DECLARE_METATYPE(pondara::Reading)

namespace {

// 2026-12-07 10:04:05.120 UTC, 18:04:05.120 in China Standard Time.
constexpr std::int64_t a_moment_ms = 1796637845120;

QString described(const PublishOptions& options)
{
    if (!options.error.isEmpty())
        return QStringLiteral("error: ") + options.error;
    return QStringLiteral("%1 %2:%3 prefix=%4 user=%5 password=%6 commands=%7 id=%8")
        .arg(options.enabled ? "on" : "off", options.broker.host)
        .arg(options.broker.port)
        .arg(options.prefix, options.broker.user, options.broker.password)
        .arg(options.commands ? "yes" : "no", options.broker.client_id);
}

}  // namespace

class TestPublish : public QObject {
    Q_OBJECT

private slots:
    void options_data();
    void options();
    void reading_data();
    void reading();
    void local_time_data();
    void local_time();
    void event_data();
    void event();
};

void TestPublish::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    const QString off
        = QStringLiteral("off :1883 prefix=pondara/scale1 user= password= commands=no id=pondara-scale1-42");
    QTest::newRow("nothing: off") << QStringList {} << off;
    QTest::newRow("other arguments left alone") << QStringList {"-style", "fusion"} << off;
    QTest::newRow("host, default port")
        << QStringList {"--mqtt", "mqtt://broker.local"}
        << "on broker.local:1883 prefix=pondara/scale1 user= password= commands=no id=pondara-scale1-42";
    QTest::newRow("=value forms, port, prefix, user, commands")
        << QStringList {"--mqtt=mqtt://10.0.0.5:1884", "--mqtt-prefix=plant/line2", "--mqtt-user", "ops",
                        "--mqtt-commands"}
        << "on 10.0.0.5:1884 prefix=plant/line2 user=ops password=secret commands=yes id=pondara-scale1-42";
    QTest::newRow("IPv6 address") << QStringList {"--mqtt", "mqtt://[::1]:1883"}
                                  << "on ::1:1883 prefix=pondara/scale1 user= password= commands=no "
                                     "id=pondara-scale1-42";
    QTest::newRow("other scheme") << QStringList {"--mqtt", "tcp://broker"}
                                  << R"(error: --mqtt needs mqtt://HOST[:PORT], not "tcp://broker")";
    QTest::newRow("bare host") << QStringList {"--mqtt", "broker"}
                               << R"(error: --mqtt needs mqtt://HOST[:PORT], not "broker")";
    QTest::newRow("password in the URL") << QStringList {"--mqtt", "mqtt://ops:pw@broker"}
                                         << "error: --mqtt takes no user or password: use --mqtt-user and "
                                            "PONDARA_MQTT_PASSWORD";
    QTest::newRow("password option") << QStringList {"--mqtt", "mqtt://b", "--mqtt-password", "pw"}
                                     << "error: the password is read from PONDARA_MQTT_PASSWORD, never from the "
                                        "command line";
    QTest::newRow("missing value") << QStringList {"--mqtt"} << "error: --mqtt needs a value";
    QTest::newRow("wildcard in prefix") << QStringList {"--mqtt", "mqtt://b", "--mqtt-prefix", "plant/#"}
                                        << R"(error: --mqtt-prefix "plant/#": topic levels without + # or empty ones)";
    QTest::newRow("trailing slash in prefix")
        << QStringList {"--mqtt", "mqtt://b", "--mqtt-prefix", "plant/"}
        << R"(error: --mqtt-prefix "plant/": topic levels without + # or empty ones)";
    QTest::newRow("commands without --mqtt")
        << QStringList {"--mqtt-commands"} << "error: --mqtt-prefix, --mqtt-user and --mqtt-commands need --mqtt";
    QTest::newRow("misspelt option") << QStringList {"--mqtt-comands"} << "error: unknown option --mqtt-comands";
}

void TestPublish::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    arguments.prepend("pondara");
    QCOMPARE(described(read_publish_options(arguments, "secret", "scale1", 42)), expected);
}

void TestPublish::reading_data()
{
    QTest::addColumn<Reading>("reading");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("stable, fresh")
        << Reading {1500, a_moment_ms, true, false, LinkHealth::State::ok}
        << QByteArray(
               R"({"value":1500,"time":"2026-12-07T18:04:05.120+08:00","stable":true,"stale":false,"link":"ok"})");
    QTest::newRow("no verdict: no stable field")
        << Reading {16777215, a_moment_ms, {}, false, LinkHealth::State::ok}
        << QByteArray(R"({"value":16777215,"time":"2026-12-07T18:04:05.120+08:00","stale":false,"link":"ok"})");
    QTest::newRow("stale, garbled link")
        << Reading {0, a_moment_ms, false, true, LinkHealth::State::bad_data}
        << QByteArray(R"({"value":0,"time":"2026-12-07T18:04:05.120+08:00","stable":false,"stale":true,"link":"bad"})");
    QTest::newRow("port closed: silent")
        << Reading {7, a_moment_ms, {}, true, LinkHealth::State::closed}
        << QByteArray(R"({"value":7,"time":"2026-12-07T18:04:05.120+08:00","stale":true,"link":"silent"})");
}

void TestPublish::reading()
{
    QFETCH(Reading, reading);
    QFETCH(QByteArray, expected);
    QCOMPARE(reading_payload(reading), expected);
}

void TestPublish::local_time_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("wall_ms");
    QTest::addColumn<QByteArray>("time");

    // The local time is worked out once a second: a zone other than the
    // first takes a second of its own.
    QTest::newRow("same second, other milliseconds")
        << QByteArray("Asia/Shanghai") << qint64(a_moment_ms + 875) << QByteArray("2026-12-07T18:04:05.995+08:00");
    QTest::newRow("west of UTC, by a half hour")
        << QByteArray("America/St_Johns") << qint64(1796657400005) << QByteArray("2026-12-07T12:00:00.005-03:30");
    QTest::newRow("summer time") << QByteArray("America/St_Johns") << qint64(1782916200000)
                                 << QByteArray("2026-07-01T12:00:00.000-02:30");
    QTest::newRow("before 1970") << QByteArray("UTC") << qint64(-1) << QByteArray("1969-12-31T23:59:59.999+00:00");
}

void TestPublish::local_time()
{
    QFETCH(QByteArray, zone);
    QFETCH(qint64, wall_ms);
    QFETCH(QByteArray, time);
    qputenv("TZ", zone);
    tzset();
    const QByteArray payload = reading_payload({0, wall_ms, {}, false, LinkHealth::State::ok});
    qputenv("TZ", "Asia/Shanghai");
    tzset();
    QCOMPARE(payload, R"({"value":0,"time":")" + time + R"(","stale":false,"link":"ok"})");
}

void TestPublish::event_data()
{
    QTest::addColumn<Exchange>("exchange");
    QTest::addColumn<QByteArray>("expected");

    const Packet calibrate_100 {0x55, 0x01, 0x04, 0x00, 0x00, 0x00, 0x64, 0xBE};
    const Packet kuandu_12 {0x55, 0x01, 0x07, 0x03, 0x00, 0x00, 0x0C, 0x6C};
    const Packet zero {0x55, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x59};
    QTest::newRow("calibration answered")
        << Exchange {calibrate_100,
                     a_moment_ms,
                     false,
                     Exchange::Result::answered,
                     Packet {0x22, 0x01, 0x04, 0x03, 0x00, 0x00, 0x64, 0x8E},
                     WeighingCheck::Result::off_target,
                     97}
        << QByteArray(R"({"command":"calibrate","source":"program","time":"2026-12-07T18:04:05.120+08:00",)"
                      R"("request":"55 01 04 00 00 00 64 BE","argument":100,"result":"answered",)"
                      R"("answer":"22 01 04 03 00 00 64 8E","check":"off_target","weight_after":97})");
    QTest::newRow("parameter write unanswered")
        << Exchange {kuandu_12, a_moment_ms, false, Exchange::Result::no_reply, {}, {}, {}}
        << QByteArray(R"({"command":"write_kuandu","source":"program","time":"2026-12-07T18:04:05.120+08:00",)"
                      R"("request":"55 01 07 03 00 00 0C 6C","argument":12,"result":"no_reply"})");
    QTest::newRow("remote zero, port closed")
        << Exchange {zero, a_moment_ms, true, Exchange::Result::port_closed, {}, {}, {}}
        << QByteArray(R"({"command":"zero","source":"mqtt","time":"2026-12-07T18:04:05.120+08:00",)"
                      R"("request":"55 01 03 00 00 00 00 59","result":"port_closed"})");
}

void TestPublish::event()
{
    QFETCH(Exchange, exchange);
    QFETCH(QByteArray, expected);
    QCOMPARE(event_payload(exchange), expected);
}

int main(int argc, char* argv[])
{
    qputenv("TZ", "Asia/Shanghai");
    QCoreApplication app(argc, argv);
    TestPublish test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_publish.moc"
