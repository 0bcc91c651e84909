#include "hex.h"
#include "hex_pattern.h"
#include "platform/virtual_port.h"
#include "pseudo_terminal.h"
#include "run_until.h"
#include "sim_console.h"
#include "sim_line.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using pondara::sim::PseudoTerminal;
using pondara::sim::run_console_command;
using pondara::sim::SimLine;
using pondara::test::hex_bytes;
using pondara::test::masked_hex;
using pondara::test::run_until;

namespace {

// read_weight and read_kuandu for address 1, and their replies at load 1000
// with noise off and the default filter width.
const char* const read_weight_1 = "55 01 02 00 00 00 00 58";
const char* const read_kuandu_1 = "55 01 08 03 00 00 00 61";
const char* const weight_1000 = "22 01 02 03 00 03 E8 13";
const char* const kuandu_8 = "22 01 08 03 00 00 08 36";

// The host's end of the line: every byte that arrives is kept with its
// arrival time, and a hang-up is noted.
class HostEnd {
public:
    HostEnd()
    {
        m_clock.start();
        QObject::connect(&m_device, &PseudoTerminal::received, &m_device, [this](const QByteArray& bytes) {
            m_received += bytes;
            m_arrivals.insert(m_arrivals.end(), static_cast<std::size_t>(bytes.size()), m_clock.nsecsElapsed());
        });
        QObject::connect(&m_device, &PseudoTerminal::hung_up, &m_device, [this] { m_hung_up = true; });
    }

    bool open(const QString& path) { return m_device.open_device(path); }
    bool send(const QByteArray& bytes)
    {
        m_sent_ns = m_clock.nsecsElapsed();
        return m_device.write(bytes);
    }

    const QByteArray& received() const { return m_received; }
    bool hung_up() const { return m_hung_up; }
    // Nanoseconds on this end's clock: when byte `index` arrived, when the
    // last send() was.
    qint64 arrival_ns(qsizetype index) const { return m_arrivals.at(static_cast<std::size_t>(index)); }
    qint64 sent_ns() const { return m_sent_ns; }

    bool wait_for_bytes(qsizetype count)
    {
        return run_until([&] { return m_received.size() >= count; }, 5000);
    }

private:
    PseudoTerminal m_device;
    QElapsedTimer m_clock;
    QByteArray m_received;
    std::vector<qint64> m_arrivals;
    qint64 m_sent_ns = 0;
    bool m_hung_up = false;
};

std::unique_ptr<SimLine> started_line(int port)
{
    auto line = std::make_unique<SimLine>(port);
    line->module().set_noise(false);
    line->module().set_load(1000);
    line->set_pacing(false);
    if (!line->start())
        return nullptr;
    return line;
}

bool is_link(const QString& path)
{
    struct stat info { };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

QString link_target(const QString& path) { return QFile::symLinkTarget(path); }

qsizetype byte_count(const QString& pattern) { return pattern.split(QLatin1Char(' '), Qt::SkipEmptyParts).size(); }

double ms_between(const HostEnd& host, qsizetype earlier, qsizetype later)
{
    return static_cast<double>(host.arrival_ns(later) - host.arrival_ns(earlier)) / 1e6;
}

}  // namespace

class TestSimLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void faults_data();
    void faults();
    void timing_data();
    void timing();
    void addressing_data();
    void addressing();
    void fault_rate_data();
    void fault_rate();
    void unplug_data();
    void unplug();
    void link_conflicts_data();
    void link_conflicts();
    void stop_leaves_a_link_it_does_not_own();
    void console_data();
    void console();
    void command_line_data();
    void command_line();
    void executable();

private:
    QTemporaryDir m_runtime;
};

void TestSimLine::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    QVERIFY(QFile::setPermissions(m_runtime.path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    QVERIFY(pondara::virtual_port_link(1).startsWith(m_runtime.path()));
}

void TestSimLine::cleanup()
{
    QDir dir(pondara::virtual_port_dir());
    for (const QString& name : dir.entryList(QDir::Files | QDir::System | QDir::Hidden))
        dir.remove(name);
}

// Three exchanges: read_weight (the one a fault set once spoils), read_kuandu,
// read_weight; the bytes after each as they arrive on the host's end.
void TestSimLine::faults_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("exchanges");
    QTest::addColumn<int>("gap_at");  // index of the byte after a pause, or -1
    QTest::addColumn<int>("min_gap_ms");
    QTest::addColumn<int>("faults");
    QTest::addColumn<int>("replies");

    const QString weight = QLatin1String(weight_1000);
    const QString kuandu = QLatin1String(kuandu_8);
    QTest::newRow("none") << "fault none" << QStringList {weight, kuandu, weight} << -1 << 0 << 0 << 3;
    QTest::newRow("split") << "fault split once" << QStringList {weight, kuandu, weight} << 5 << 15 << 1 << 3;
    QTest::newRow("twelve") << "fault twelve once"
                            << QStringList {"22 01 02 03 00 03 E8 13 ?? ?? ?? ??", kuandu, weight} << -1 << 0 << 1 << 3;
    QTest::newRow("stray") << "fault stray once" << QStringList {"?? 22 01 02 03 00 03 E8 13", kuandu, weight} << -1
                           << 0 << 1 << 3;
    QTest::newRow("truncated") << "fault truncated once" << QStringList {"22 01 02 03 00", kuandu, weight} << -1 << 0
                               << 1 << 3;
    // The held 5 bytes go out ahead of the next reply; the third exchange is
    // clean again.
    QTest::newRow("late") << "fault late once"
                          << QStringList {"22 01 02", "03 00 03 E8 13 22 01 08 03 00 00 08 36", weight} << -1 << 0 << 1
                          << 3;
    QTest::newRow("header") << "fault header once" << QStringList {"23 01 02 03 00 03 E8 14", kuandu, weight} << -1 << 0
                            << 1 << 3;
    QTest::newRow("checksum") << "fault checksum once" << QStringList {"22 01 02 03 00 03 E8 14", kuandu, weight} << -1
                              << 0 << 1 << 3;
    QTest::newRow("noreply") << "fault noreply once" << QStringList {"", kuandu, weight} << -1 << 0 << 1 << 2;
    QTest::newRow("noise") << "fault noise once" << QStringList {"22 01 02 03 00 03 E8 13 ?? ?? ??", kuandu, weight}
                           << 8 << 40 << 1 << 3;
    QTest::newRow("checksum, standing") << "fault checksum"
                                        << QStringList {"22 01 02 03 00 03 E8 14", "22 01 08 03 00 00 08 37",
                                                        "22 01 02 03 00 03 E8 14"}
                                        << -1 << 0 << 3 << 3;
}

void TestSimLine::faults()
{
    QFETCH(QString, command);
    QFETCH(QStringList, exchanges);
    QFETCH(int, gap_at);
    QFETCH(int, min_gap_ms);
    QFETCH(int, faults);
    QFETCH(int, replies);

    const auto line = started_line(1);
    QVERIFY(line);
    QCOMPARE(run_console_command(*line, command), command);
    HostEnd host;
    QVERIFY(host.open(line->link_path()));

    const char* const requests[] = {read_weight_1, read_kuandu_1, read_weight_1};
    QStringList expected;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(host.send(hex_bytes(requests[i])));
        if (!exchanges[i].isEmpty())
            expected.append(exchanges[i]);
        const QString pattern = expected.join(QLatin1Char(' '));
        QVERIFY2(host.wait_for_bytes(byte_count(pattern)), qPrintable(pondara::test::spaced_hex(host.received())));
        QCOMPARE(masked_hex(host.received(), qPrintable(pattern)), pattern);
    }
    if (gap_at >= 0)
        QVERIFY2(ms_between(host, gap_at - 1, gap_at) >= min_gap_ms,
                 qPrintable(QStringLiteral("gap %1 ms").arg(ms_between(host, gap_at - 1, gap_at))));
    const SimLine::Counters counters = line->counters();
    QCOMPARE(counters.requests, 3u);
    QCOMPARE(counters.faults, static_cast<quint64>(faults));
    QCOMPARE(counters.replies, static_cast<quint64>(replies));
}

void TestSimLine::timing_data()
{
    QTest::addColumn<QString>("pacing");
    QTest::addColumn<int>("delay_ms");
    QTest::addColumn<double>("min_first_ms");  // request sent to first byte
    QTest::addColumn<double>("min_last_ms");  // request sent to last byte
    QTest::addColumn<double>("max_spread_ms");  // first byte to last

    // 8 bytes at 9600 baud take 8.3 ms; unpaced they come in one piece. A
    // busy machine can only make bytes later, so the lower bounds hold; the
    // spread of paced bytes it can squeeze, so that is not checked.
    QTest::newRow("paced") << "on" << 0 << 0.0 << 7.0 << 1e6;
    QTest::newRow("unpaced") << "off" << 0 << 0.0 << 0.0 << 3.0;
    QTest::newRow("unpaced, delayed") << "off" << 60 << 55.0 << 55.0 << 3.0;
    QTest::newRow("paced, delayed") << "on" << 30 << 30.0 << 37.0 << 1e6;
}

void TestSimLine::timing()
{
    QFETCH(QString, pacing);
    QFETCH(int, delay_ms);
    QFETCH(double, min_first_ms);
    QFETCH(double, min_last_ms);
    QFETCH(double, max_spread_ms);

    const auto line = started_line(2);
    QVERIFY(line);
    QCOMPARE(run_console_command(*line, QStringLiteral("pacing ") + pacing), QStringLiteral("pacing ") + pacing);
    QCOMPARE(run_console_command(*line, QStringLiteral("delay %1").arg(delay_ms)),
             QStringLiteral("delay %1 ms").arg(delay_ms));
    HostEnd host;
    QVERIFY(host.open(line->link_path()));
    QVERIFY(host.send(hex_bytes(read_weight_1)));
    QVERIFY(host.wait_for_bytes(8));
    QCOMPARE(masked_hex(host.received(), weight_1000), QLatin1String(weight_1000));

    const double first_ms = static_cast<double>(host.arrival_ns(0) - host.sent_ns()) / 1e6;
    const double last_ms = static_cast<double>(host.arrival_ns(7) - host.sent_ns()) / 1e6;
    const QString times = QStringLiteral("first %1 ms, last %2 ms").arg(first_ms).arg(last_ms);
    QVERIFY2(first_ms >= min_first_ms, qPrintable(times));
    QVERIFY2(last_ms >= min_last_ms, qPrintable(times));
    QVERIFY2(last_ms - first_ms <= max_spread_ms, qPrintable(times));
}

// A request the module must ignore, then one it answers: the bytes that
// arrive show whether the first got a reply.
void TestSimLine::addressing_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QString>("expected");

    QTest::newRow("address 2 at module 1") << QStringList {"address 1"} << hex_bytes("55 02 02 00 00 00 00 59")
                                           << hex_bytes(read_kuandu_1) << QString(kuandu_8);
    QTest::newRow("address 1 at module 2") << QStringList {"address 2"} << hex_bytes(read_weight_1)
                                           << hex_bytes("55 02 08 03 00 00 00 62") << "22 02 08 03 00 00 08 37";
    QTest::newRow("address 2 at module 2")
        << QStringList {"address 2"} << hex_bytes("55 02 02 00 00 00 00 59") << hex_bytes("55 02 08 03 00 00 00 62")
        << "22 02 02 03 00 03 E8 14 22 02 08 03 00 00 08 37";
    // Each module of a bus answers its own address with its own scale.
    QTest::newRow("bus 1,5,17: addresses 5, 3 and 17")
        << QStringList {"address 1,5,17", "noise off", "load 5 1500"}
        << hex_bytes("55 05 02 00 00 00 00 5C 55 03 02 00 00 00 00 5A") << hex_bytes("55 11 08 03 00 00 00 71")
        << "22 05 02 03 00 05 DC 0D 22 11 08 03 00 00 08 46";
}

void TestSimLine::addressing()
{
    QFETCH(QStringList, setup);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, control);
    QFETCH(QString, expected);

    const auto line = started_line(3);
    QVERIFY(line);
    for (const QString& command : setup)
        QCOMPARE(run_console_command(*line, command), command);
    HostEnd host;
    QVERIFY(host.open(line->link_path()));
    QVERIFY(host.send(request));
    QVERIFY(host.send(control));
    QVERIFY(host.wait_for_bytes(byte_count(expected)));
    QCOMPARE(masked_hex(host.received(), qPrintable(expected)), expected);
}

void TestSimLine::fault_rate_data()
{
    QTest::addColumn<QString>("rate");
    QTest::addColumn<int>("min_faults");
    QTest::addColumn<int>("max_faults");

    QTest::newRow("never") << "0" << 0 << 0;
    QTest::newRow("sometimes") << "0.5" << 1 << 19;
    QTest::newRow("always") << "1" << 20 << 20;
}

void TestSimLine::fault_rate()
{
    QFETCH(QString, rate);
    QFETCH(int, min_faults);
    QFETCH(int, max_faults);

    const auto line = started_line(4);
    QVERIFY(line);
    QCOMPARE(run_console_command(*line, QStringLiteral("fault-rate ") + rate), QStringLiteral("fault-rate ") + rate);
    HostEnd host;
    QVERIFY(host.open(line->link_path()));
    QByteArray requests;
    for (int i = 0; i < 20; ++i)
        requests += hex_bytes(read_weight_1);
    QVERIFY(host.send(requests));
    QVERIFY(run_until([&] { return line->counters().requests == 20; }, 5000));
    const auto faults = static_cast<int>(line->counters().faults);
    QVERIFY2(faults >= min_faults && faults <= max_faults, qPrintable(QString::number(faults)));
    QVERIFY(line->plugged());  // random faults never pull the cable
}

void TestSimLine::unplug_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("send_request");

    QTest::newRow("by command") << "unplug" << false;
    QTest::newRow("instead of a reply") << "fault unplug once" << true;
    QTest::newRow("after a second") << "unplug-after 1" << false;
}

void TestSimLine::unplug()
{
    QFETCH(QString, command);
    QFETCH(bool, send_request);

    const auto line = started_line(5);
    QVERIFY(line);
    const QString link = line->link_path();
    HostEnd host;
    QVERIFY(host.open(link));
    QVERIFY(!run_console_command(*line, command).startsWith(QLatin1String("error")));
    if (send_request)
        QVERIFY(host.send(hex_bytes(read_weight_1)));

    QVERIFY(run_until([&] { return host.hung_up(); }, 5000));
    QVERIFY(!line->plugged());
    QVERIFY(!is_link(link));
    QVERIFY(host.received().isEmpty());

    QVERIFY(run_console_command(*line, QStringLiteral("replug")).startsWith(QLatin1String("replugged")));
    QCOMPARE(link_target(link), line->device_path());
    HostEnd again;
    QVERIFY(again.open(link));
    QVERIFY(again.send(hex_bytes(read_weight_1)));
    QVERIFY(again.wait_for_bytes(8));
    QCOMPARE(masked_hex(again.received(), weight_1000), QLatin1String(weight_1000));
}

// What is already at the port's link when the simulator starts.
void TestSimLine::link_conflicts_data()
{
    QTest::addColumn<QString>("existing");
    QTest::addColumn<bool>("starts");

    QTest::newRow("nothing") << "nothing" << true;
    QTest::newRow("stale link") << "stale" << true;
    QTest::newRow("link to a device") << "device" << false;
    QTest::newRow("another simulator") << "simulator" << false;
    QTest::newRow("plain file") << "file" << false;
}

void TestSimLine::link_conflicts()
{
    QFETCH(QString, existing);
    QFETCH(bool, starts);

    const QString link = pondara::virtual_port_link(6);
    QVERIFY(QDir().mkpath(pondara::virtual_port_dir()));
    std::unique_ptr<SimLine> other;
    if (existing == QLatin1String("stale")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/no-such-terminal"), link));
    } else if (existing == QLatin1String("device")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));
    } else if (existing == QLatin1String("simulator")) {
        other = started_line(6);
        QVERIFY(other);
    } else if (existing == QLatin1String("file")) {
        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString before = link_target(link);

    {
        SimLine line(6);
        QString error;
        QCOMPARE(line.start(&error), starts);
        if (starts) {
            QCOMPARE(link_target(link), line.device_path());
        } else {
            QVERIFY(!error.isEmpty());
            QCOMPARE(link_target(link), before);
        }
    }
    if (starts)
        QVERIFY(!is_link(link));
    else
        QVERIFY(QFileInfo(link).exists() || is_link(link));
}

void TestSimLine::stop_leaves_a_link_it_does_not_own()
{
    const auto line = started_line(7);
    QVERIFY(line);
    const QString link = line->link_path();
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));
    line->stop();
    QCOMPARE(link_target(link), QStringLiteral("/dev/null"));
}

// Commands on a line that is not started, one after another; the answer to
// the last.
void TestSimLine::console_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("answer");

    QTest::newRow("stats") << QStringList {"stats"} << "requests 0, replies 0, faults 0";
    QTest::newRow("fault, none") << QStringList {"fault"} << "fault none, fault-rate 0";
    QTest::newRow("fault, standing and once")
        << QStringList {"fault checksum", "fault split once", "fault-rate 0.25", "fault"}
        << "fault checksum (next reply: split), fault-rate 0.25";
    QTest::newRow("fault none clears once too")
        << QStringList {"fault split once", "fault none", "fault"} << "fault none, fault-rate 0";
    QTest::newRow("state, fresh") << QStringList {"state"}
                                  << "port 8 unplugged, address 1, load 0 (now 0), drift off, noise on, "
                                     "zero 524288, zhouqi 5, kuandu 8, pacing on, delay 0 ms, fault none, "
                                     "fault-rate 0";
    QTest::newRow("state, set") << QStringList {"address 7",  "load 12.5", "noise off",
                                                "pacing off", "delay 40",  "state"}
                                << "port 8 unplugged, address 7, load 12.5 (now 12.5), drift off, noise off, "
                                   "zero 524288, zhouqi 5, kuandu 8, pacing off, delay 40 ms, fault none, "
                                   "fault-rate 0";
    QTest::newRow("state, bus") << QStringList {"address 1,5,17", "load 5 1500", "fault 17 noreply", "state"}
                                << "port 8 unplugged, address 1,5,17, load 0 (now 0), drift off, noise on, "
                                   "zero 524288, zhouqi 5, kuandu 8, pacing on, delay 0 ms, fault none, "
                                   "fault-rate 0; module 5: load 1500 (now 1500), drift off, noise on, fault none; "
                                   "module 17: load 0 (now 0), drift off, noise on, fault noreply";
    QTest::newRow("no module there") << QStringList {"address 1,5", "load 9 5"} << "error: no module at address 9";
    QTest::newRow("unplug, not started") << QStringList {"unplug"} << "error: port 8 is not plugged";
    QTest::newRow("unknown") << QStringList {"frobnicate 3"} << "error: unknown command 'frobnicate 3' (try help)";
    QTest::newRow("empty") << QStringList {""} << "";
    QTest::newRow("help") << QStringList {"help"}
                          << "commands: load X | drift on|off | noise on|off | address A | delay MS | "
                             "pacing on|off | fault NAME [once] | fault-rate P | seed S | unplug | replug | "
                             "unplug-after S | state | stats | help; faults: none split twelve stray truncated "
                             "late header checksum noreply noise unplug fakezero";
}

void TestSimLine::console()
{
    QFETCH(QStringList, commands);
    QFETCH(QString, answer);

    SimLine line(8);
    QString last;
    for (const QString& command : commands)
        last = run_console_command(line, command);
    QCOMPARE(last, answer);
}

// Options the simulator refuses: it says why on standard error and ends.
void TestSimLine::command_line_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("port 0") << QStringList {"--port", "0"} << "pondara-sim: --port takes 1..999";
    QTest::newRow("delay too long") << QStringList {"--port", "9", "--reply-delay", "60001"}
                                    << "pondara-sim: --reply-delay takes 0..60000 ms";
    QTest::newRow("unplug-after too long")
        << QStringList {"--port", "9", "--unplug-after", "86401"} << "pondara-sim: --unplug-after takes 0..86400 s";
    QTest::newRow("load not a number") << QStringList {"--port", "9", "--load", "heavy"}
                                       << "pondara-sim: --load takes a number";
}

void TestSimLine::command_line()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);

    QProcess sim;
    sim.start(QStringLiteral(PONDARA_SIM_BINARY), arguments);
    QVERIFY(sim.waitForFinished(15'000));
    QCOMPARE(sim.exitCode(), 1);
    QCOMPARE(QString::fromLocal8Bit(sim.readAllStandardError()).trimmed(), complaint);
    QCOMPARE(sim.readAllStandardOutput(), QByteArray());
    QVERIFY(!is_link(pondara::virtual_port_link(9)));
}

void TestSimLine::executable()
{
    QProcess sim;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    sim.setProcessEnvironment(environment);
    // Unplugging after 0 s means never.
    sim.start(QStringLiteral(PONDARA_SIM_BINARY),
              {QStringLiteral("--port"), QStringLiteral("7"), QStringLiteral("--no-pacing"),
               QStringLiteral("--unplug-after"), QStringLiteral("0")});
    QVERIFY(sim.waitForStarted());
    QVERIFY(run_until([&] { return sim.canReadLine(); }, 15'000));
    const QString first = QString::fromLocal8Bit(sim.readLine()).trimmed();
    const QString link = pondara::virtual_port_link(7);
    const auto match
        = QRegularExpression(QStringLiteral("^pondara-sim: port 7 = (/dev/pts/\\d+) \\(link (.+)\\)$")).match(first);
    QVERIFY2(match.hasMatch(), qPrintable(first));
    QCOMPARE(match.captured(2), link);
    QCOMPARE(link_target(link), match.captured(1));

    HostEnd host;
    QVERIFY(host.open(link));
    QVERIFY(host.send(hex_bytes("55 01 01 00 00 00 00 57")));
    QVERIFY(host.wait_for_bytes(8));
    QCOMPARE(masked_hex(host.received(), "22 01 01 03 ?? ?? ?? ??"), QStringLiteral("22 01 01 03 ?? ?? ?? ??"));
    int sum = 0;
    for (int i = 0; i < 7; ++i)
        sum += static_cast<unsigned char>(host.received()[i]);
    QCOMPARE(static_cast<unsigned char>(host.received()[7]), static_cast<unsigned char>(sum & 0xFF));

    // Commands on standard input; its end must not stop the simulator.
    sim.write("noise off\nload 2000\n");
    sim.closeWriteChannel();
    QVERIFY(run_until([&] { return sim.bytesAvailable() >= qint64(sizeof "noise off\nload 2000\n") - 1; }, 10'000));
    QCOMPARE(sim.readAll(), QByteArray("noise off\nload 2000\n"));
    QVERIFY(host.send(hex_bytes(read_weight_1)));
    QVERIFY(host.wait_for_bytes(16));
    QCOMPARE(masked_hex(host.received().sliced(8), "22 01 02 03 00 07 D0 FF"),
             QStringLiteral("22 01 02 03 00 07 D0 FF"));

    sim.terminate();
    QVERIFY(sim.waitForFinished(15'000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!is_link(link));
}

QTEST_GUILESS_MAIN(TestSimLine)
#include "tst_sim_line.moc"
