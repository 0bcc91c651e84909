#include "hex.h"
#include "module_sim.h"
#include "reply_shaper.h"
#include "sim_commands.h"

#include <QCommandLineParser>
#include <QTest>

#include <algorithm>
#include <random>

using namespace std::chrono_literals;
using pondara::Packet;
using pondara::sim::ModuleSim;
using pondara::test::hex_bytes;
using pondara::test::spaced_hex;

namespace {

QByteArray joined(const std::vector<Packet>& replies)
{
    QByteArray bytes;
    for (const Packet& reply : replies)
        bytes.append(reinterpret_cast<const char*>(reply.data()), static_cast<qsizetype>(reply.size()));
    return bytes;
}

// The value of a single reply to `request`, asked of `module`.
std::uint32_t value_of(ModuleSim& module, pondara::Leixing type, std::uint32_t data = 0)
{
    const Packet request = pondara::build_request(module.address(), pondara::make_command(type, data));
    const auto reply = module.answer(request);
    if (!reply)
        qFatal("no reply");
    return std::uint32_t {(*reply)[4]} << 16 | std::uint32_t {(*reply)[5]} << 8 | (*reply)[6];
}

}  // namespace

class TestModuleSim : public QObject {
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void weighing_data();
    void weighing();
    void drift_data();
    void drift();
    void noise_is_bounded_and_repeatable();
    void commands_data();
    void commands();
    void faults_data();
    void faults();
    void help_data();
    void help();
};

// Requests in, replies out, byte for byte; noise off. Each row's request
// bytes are also fed one byte at a time, which must not change the answer.
void TestModuleSim::replies_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<double>("load");
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<QByteArray>("replies");

    const auto row = [](const char* name, int address, double load, const char* requests, const char* replies) {
        QTest::newRow(name) << address << load << hex_bytes(requests) << hex_bytes(replies);
    };
    // The worked examples.
    row("read_ad, empty", 1, 0, "55 01 01 00 00 00 00 57", "22 01 01 03 08 00 00 2F");
    row("read_ad, 1000 on", 1, 1000, "55 01 01 00 00 00 00 57", "22 01 01 03 08 1F 40 8E");
    row("read_weight 100000", 1, 100000, "55 01 02 00 00 00 00 58", "22 01 02 03 01 86 A0 4F");
    row("zero", 1, 0, "55 01 03 00 00 00 00 59", "22 01 03 03 08 00 00 31");
    row("calibrate 1000", 1, 1000, "55 01 04 00 00 03 E8 45", "22 01 04 03 00 03 E8 15");
    row("calibrate refused still echoes", 1, 0, "55 01 04 00 00 03 E8 45", "22 01 04 03 00 03 E8 15");
    row("read_zhouqi default", 1, 0, "55 01 06 03 00 00 00 5F", "22 01 06 03 00 00 05 31");
    row("read_kuandu default", 1, 0, "55 01 08 03 00 00 00 61", "22 01 08 03 00 00 08 36");
    row("write_zhouqi 10, read back", 1, 0, "55 01 05 03 00 00 0A 68  55 01 06 03 00 00 00 5F",
        "22 01 05 03 00 00 0A 35  22 01 06 03 00 00 0A 36");
    row("write_kuandu 5, read back", 1, 0, "55 01 07 03 00 00 05 65  55 01 08 03 00 00 00 61",
        "22 01 07 03 00 00 05 32  22 01 08 03 00 00 05 33");
    // Out of range writes keep the old value, which the echo shows.
    row("write_zhouqi 0 kept old", 1, 0, "55 01 05 03 00 00 00 5E", "22 01 05 03 00 00 05 30");
    row("write_zhouqi 15 taken", 1, 0, "55 01 05 03 00 00 0F 6D", "22 01 05 03 00 00 0F 3A");
    row("write_zhouqi 16 kept old", 1, 0, "55 01 05 03 00 00 10 6E", "22 01 05 03 00 00 05 30");
    row("write_zhouqi 266 kept old", 1, 0, "55 01 05 03 00 01 0A 69", "22 01 05 03 00 00 05 30");
    row("write_kuandu 20 taken", 1, 0, "55 01 07 03 00 00 14 74", "22 01 07 03 00 00 14 41");
    row("write_kuandu 21 kept old", 1, 0, "55 01 07 03 00 00 15 75", "22 01 07 03 00 00 08 35");
    row("data1 ignored", 1, 100000, "55 01 02 03 00 00 00 5B", "22 01 02 03 01 86 A0 4F");
    row("two requests at once", 1, 100000, "55 01 02 00 00 00 00 58  55 01 08 03 00 00 00 61",
        "22 01 02 03 01 86 A0 4F  22 01 08 03 00 00 08 36");
    // Addressing.
    row("other address", 1, 100000, "55 02 02 00 00 00 00 59", "");
    row("own address 2", 2, 100000, "55 02 02 00 00 00 00 59", "22 02 02 03 01 86 A0 50");
    row("address 1 at module 2", 2, 100000, "55 01 02 00 00 00 00 58", "");
    row("other address, then own", 1, 100000, "55 02 02 00 00 00 00 59  55 01 02 00 00 00 00 58",
        "22 01 02 03 01 86 A0 4F");
    // Damaged frames are dropped and the next good one is found.
    row("bad checksum", 1, 100000, "55 01 02 00 00 00 00 59", "");
    row("bad checksum, then good", 1, 100000, "55 01 02 00 00 00 00 59  55 01 02 00 00 00 00 58",
        "22 01 02 03 01 86 A0 4F");
    row("wrong header", 1, 100000, "56 01 02 00 00 00 00 59", "");
    row("garbage, then good", 1, 100000, "00 FF 13 22  55 01 02 00 00 00 00 58", "22 01 02 03 01 86 A0 4F");
    row("broken request, then good", 1, 100000, "55 01 02  55 01 02 00 00 00 00 58", "22 01 02 03 01 86 A0 4F");
    row("reply on the line, then good", 1, 100000, "22 01 02 03 01 86 A0 4F  55 01 02 00 00 00 00 58",
        "22 01 02 03 01 86 A0 4F");
    // Unknown types get no reply, and framing goes on after them.
    row("type 0", 1, 0, "55 01 00 00 00 00 00 56", "");
    row("type 9", 1, 0, "55 01 09 00 00 00 00 5F", "");
    row("type FF", 1, 0, "55 01 FF 00 00 00 00 55", "");
    row("type 9, then good", 1, 100000, "55 01 09 00 00 00 00 5F  55 01 02 00 00 00 00 58", "22 01 02 03 01 86 A0 4F");
}

void TestModuleSim::replies()
{
    QFETCH(int, address);
    QFETCH(double, load);
    QFETCH(QByteArray, requests);
    QFETCH(QByteArray, replies);

    const auto configured = [&] {
        ModuleSim module(static_cast<std::uint8_t>(address));
        module.set_noise(false);
        module.set_load(load);
        return module;
    };
    ModuleSim whole = configured();
    QCOMPARE(spaced_hex(joined(whole.receive(requests))), spaced_hex(replies));

    ModuleSim bytewise = configured();
    QByteArray answered;
    for (const char byte : requests)
        answered += joined(bytewise.receive(QByteArrayView(&byte, 1)));
    QCOMPARE(spaced_hex(answered), spaced_hex(replies));
}

// Zero at one load, calibrate at another, read at a third.
void TestModuleSim::weighing_data()
{
    QTest::addColumn<bool>("noise");
    QTest::addColumn<double>("zero_load");
    QTest::addColumn<double>("calibration_load");
    QTest::addColumn<uint>("calibration_weight");
    QTest::addColumn<double>("read_load");
    QTest::addColumn<uint>("expected");
    QTest::addColumn<uint>("tolerance");

    QTest::newRow("reads the calibration weight") << false << 0.0 << 500.0 << 1000u << 500.0 << 1000u << 0u;
    QTest::newRow("same, with noise") << true << 0.0 << 500.0 << 1000u << 500.0 << 1000u << 6u;
    QTest::newRow("half the load") << false << 0.0 << 500.0 << 1000u << 250.0 << 500u << 0u;
    QTest::newRow("tared, calibration weight") << false << 200.0 << 700.0 << 5000u << 700.0 << 5000u << 0u;
    QTest::newRow("tared, tare load reads 0") << false << 200.0 << 700.0 << 5000u << 200.0 << 0u << 0u;
    QTest::newRow("below zero clamps to 0") << false << 200.0 << 700.0 << 5000u << 100.0 << 0u << 0u;
    QTest::newRow("above 24 bits clamps") << false << 0.0 << 1.0 << 16777215u << 2.0 << 16777215u << 0u;
    QTest::newRow("uncalibrated reads the load") << false << 0.0 << 1234.0 << 0u << 1234.0 << 1234u << 0u;
    QTest::newRow("refused at zero load, scale kept") << false << 500.0 << 500.0 << 1000u << 1000.0 << 500u << 0u;
    QTest::newRow("refused below zero, scale kept") << false << 500.0 << 400.0 << 1000u << 1000.0 << 500u << 0u;
}

void TestModuleSim::weighing()
{
    QFETCH(bool, noise);
    QFETCH(double, zero_load);
    QFETCH(double, calibration_load);
    QFETCH(uint, calibration_weight);
    QFETCH(double, read_load);
    QFETCH(uint, expected);
    QFETCH(uint, tolerance);

    ModuleSim module;
    module.set_noise(noise);
    module.set_load(zero_load);
    value_of(module, pondara::Leixing::zero);
    module.set_load(calibration_load);
    QCOMPARE(value_of(module, pondara::Leixing::calibrate, calibration_weight), calibration_weight);
    module.set_load(read_load);
    const std::uint32_t weight = value_of(module, pondara::Leixing::read_weight);
    QVERIFY2(std::max(weight, expected) - std::min(weight, expected) <= tolerance,
             qPrintable(QStringLiteral("weight %1, expected %2 +- %3").arg(weight).arg(expected).arg(tolerance)));
}

void TestModuleSim::drift_data()
{
    QTest::addColumn<bool>("drift");
    QTest::newRow("drifting load moves") << true;
    QTest::newRow("steady load stays") << false;
}

void TestModuleSim::drift()
{
    QFETCH(bool, drift);
    ModuleSim module;
    module.set_noise(false);
    module.set_load(1000);
    module.set_drift(drift);
    const std::uint32_t before = value_of(module, pondara::Leixing::read_weight);
    QCOMPARE(before, 1000u);
    module.step(3s);
    const std::uint32_t after = value_of(module, pondara::Leixing::read_weight);
    QCOMPARE(after != before, drift);
    // A slow swing around the load, not a jump.
    QVERIFY(after > 900 && after < 1100);
}

void TestModuleSim::noise_is_bounded_and_repeatable()
{
    ModuleSim first(1, 42);
    ModuleSim again(1, 42);
    ModuleSim other(1, 43);
    bool varies = false;
    bool seeds_differ = false;
    const std::uint32_t clean = value_of(first, pondara::Leixing::read_ad);
    QCOMPARE(value_of(again, pondara::Leixing::read_ad), clean);
    for (int i = 0; i < 50; ++i) {
        const std::uint32_t raw = value_of(first, pondara::Leixing::read_ad);
        QCOMPARE(value_of(again, pondara::Leixing::read_ad), raw);
        seeds_differ = seeds_differ || value_of(other, pondara::Leixing::read_ad) != raw;
        varies = varies || raw != clean;
        // The factory zero (0x080000), give or take the noise.
        QVERIFY(raw >= 0x080000 - 6 && raw <= 0x080000 + 6);
    }
    QVERIFY(varies);
    QVERIFY(seeds_differ);
}

// What the simulator makes of a console line, or of its command line (rows
// starting with "--"): the commands written out in full, or the complaint.
// Both take the same ranges.
void TestModuleSim::commands_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("result");

    const auto row
        = [](const char* input, const char* result) { QTest::newRow(*input ? input : "(empty)") << input << result; };
    row("", "");
    row("   ", "");
    row("load 1500", "load 1500");
    row("  load   -2.5 ", "load -2.5");
    row("load 1e3", "load 1000");
    row("load heavy", "error: load takes a number");
    row("load inf", "error: load takes a number");
    row("load", "error: unknown command 'load' (try help)");
    row("--load nan", "--load takes a number");
    row("address 0", "address 0");
    row("address 255", "address 255");
    row("address 256", "error: address takes 0..255, or several different ones such as 1,5,17");
    row("address -1", "error: address takes 0..255, or several different ones such as 1,5,17");
    row("address 1.5", "error: address takes 0..255, or several different ones such as 1,5,17");
    row("--address 256", "--address takes 0..255, or several different ones such as 1,5,17");
    // A bus of modules, and commands for one of them.
    row("--address 1,5,17", "port 1, address 1,5,17");
    row("address 1,5,1", "error: address takes 0..255, or several different ones such as 1,5,17");
    row("address 1,,5", "error: address takes 0..255, or several different ones such as 1,5,17");
    row("load 5 1500", "load 5 1500");
    row("drift 17 on", "drift 17 on");
    row("noise 256 off", "error: unknown command 'noise 256 off' (try help)");
    row("fault 5 noreply once", "fault 5 noreply once");
    row("fault 5 split twice", "error: usage: fault NAME [once]");
    row("delay 5 10", "error: unknown command 'delay 5 10' (try help)");
    row("delay 60000", "delay 60000 ms");
    row("delay 60001", "error: delay takes 0..60000 ms");
    row("delay -1", "error: delay takes 0..60000 ms");
    row("--reply-delay 60001", "--reply-delay takes 0..60000 ms");
    row("pacing off", "pacing off");
    row("pacing maybe", "error: pacing takes on or off");
    row("drift on", "drift on");
    row("noise off", "noise off");
    row("noise 1", "error: noise takes on or off");
    row("fault split", "fault split");
    row("fault SPLIT once", "fault split once");
    row("fault split twice", "error: usage: fault NAME [once]");
    row("fault split once more", "error: usage: fault NAME [once]");
    row("fault gremlins", "error: fault takes one of: none split twelve stray truncated late header checksum "
                          "noreply noise unplug fakezero");
    row("fault", "fault");
    row("--fault unplug", "port 1, fault unplug");
    row("fault-rate 0.02", "fault-rate 0.02");
    row("fault-rate 1", "fault-rate 1");
    row("fault-rate 1.5", "error: fault-rate takes 0..1");
    row("fault-rate -0.1", "error: fault-rate takes 0..1");
    row("fault-rate nan", "error: fault-rate takes 0..1");
    row("--fault-rate 2", "--fault-rate takes 0..1");
    row("seed 4294967295", "seed 4294967295");
    row("seed 4294967296", "error: seed takes 0..4294967295");
    row("--seed -1", "--seed takes 0..4294967295");
    // One range for unplug-after: 0 cancels at the console and means never
    // on the command line.
    row("unplug-after 0", "unplug-after 0 s");
    row("unplug-after 86400", "unplug-after 86400 s");
    row("unplug-after 86401", "error: unplug-after takes 0..86400 s");
    row("--unplug-after 0", "port 1, unplug-after 0 s");
    row("--unplug-after 86401", "--unplug-after takes 0..86400 s");
    // The port only on the command line.
    row("--port 1", "port 1");
    row("--port 999", "port 999");
    // Switches, and settings in the table's order whatever the order given.
    row("--drift", "port 1, drift on");
    row("--no-pacing --drift --port 3 --reply-delay 5", "port 3, drift on, delay 5 ms, pacing off");
    row("--seed 7 --address 300", "--address takes 0..255, or several different ones such as 1,5,17");
    row("--port 0", "--port takes 1..999");
    row("--port 1000", "--port takes 1..999");
    row("port 2", "error: unknown command 'port 2' (try help)");
    row("stats", "stats");
    row("state", "state");
    row("help", "help");
    row("unplug", "unplug");
    row("replug", "replug");
    row("stats now", "error: unknown command 'stats now' (try help)");
    row("frobnicate  3", "error: unknown command 'frobnicate 3' (try help)");
}

void TestModuleSim::commands()
{
    QFETCH(QString, input);
    QFETCH(QString, result);

    using namespace pondara::sim;
    if (input.startsWith(QLatin1String("--"))) {
        QCommandLineParser parser;
        add_options(parser);
        QVERIFY2(parser.parse(QStringList {QStringLiteral("pondara-sim")} + input.split(QLatin1Char(' '))),
                 qPrintable(parser.errorText()));
        const CommandLine given = read_command_line(parser);
        QStringList described {QStringLiteral("port %1").arg(given.port)};
        for (const Command& setting : given.settings)
            described.append(describe(setting));
        QCOMPARE(given.error.isEmpty() ? described.join(QStringLiteral(", ")) : given.error, result);
        return;
    }
    const Parsed parsed = parse_command(input);
    if (parsed.command)
        QCOMPARE(describe(*parsed.command), result);
    else
        QCOMPARE(parsed.error.isEmpty() ? QString() : QStringLiteral("error: ") + parsed.error, result);
}

// Which faults leave a reply intact on the line (the host must show its
// value) and which a fault rate picks; the shaped bytes agree with the
// first. The cable pulled instead of a reply sends nothing, whatever it is
// shaped as.
void TestModuleSim::faults_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("intact");
    QTest::addColumn<bool>("random");

    const auto row
        = [](const char* name, bool intact, bool random) { QTest::newRow(name) << name << intact << random; };
    row("none", true, false);
    row("split", true, true);
    row("twelve", true, true);
    row("stray", false, true);
    row("truncated", false, true);
    row("late", false, true);
    row("header", false, true);
    row("checksum", false, true);
    row("noreply", false, true);
    row("noise", true, true);
    row("unplug", false, false);
    row("fakezero", true, false);
}

void TestModuleSim::faults()
{
    QFETCH(QString, name);
    QFETCH(bool, intact);
    QFETCH(bool, random);

    using namespace pondara::sim;
    const std::optional<Fault> fault = fault_from_name(name);
    QVERIFY(fault);
    QCOMPARE(fault_name(*fault), name);
    QCOMPARE(fault_row(*fault).leaves_reply_intact, intact);
    QCOMPARE(std::count(reply_faults.begin(), reply_faults.end(), *fault), random ? 1 : 0);
    if (*fault == Fault::unplug)
        return;
    const Packet reply = pondara::build_reply(1, 2, 1000);
    std::mt19937 rng(1);
    const ShapedReply shaped = shape_reply(reply, *fault, rng);
    const QByteArray sent = shaped.first + shaped.then;
    QCOMPARE(sent.startsWith(QByteArray(reinterpret_cast<const char*>(reply.data()), 8)), intact);
}

// The console's help and --help name the same commands and faults, and
// --help every option.
void TestModuleSim::help_data()
{
    QTest::addColumn<QString>("console");  // in the console's help; empty: not there
    QTest::addColumn<QString>("help");  // in --help

    const auto row
        = [](const char* name, const char* console, const char* help) { QTest::newRow(name) << console << help; };
    row("load", "commands: load X |", "\n  load X ");
    row("drift", "| drift on|off |", "\n  drift on|off ");
    row("noise", "| noise on|off |", "\n  noise on|off ");
    row("address", "| address A |", "\n  address A ");
    row("delay", "| delay MS |", "\n  delay MS ");
    row("pacing", "| pacing on|off |", "\n  pacing on|off ");
    row("fault", "| fault NAME [once] |", "\n  fault NAME [once] ");
    row("fault-rate", "| fault-rate P |", "\n  fault-rate P ");
    row("seed", "| seed S |", "\n  seed S ");
    row("unplug", "| unplug |", "\n  unplug ");
    row("replug", "| replug |", "\n  replug ");
    row("unplug-after", "| unplug-after S |", "\n  unplug-after S ");
    row("state", "| state |", "\n  state ");
    row("stats", "| stats |", "\n  stats ");
    row("help", "| help;", "\n  help ");
    row("faults", "; faults: none split twelve stray truncated late header checksum noreply noise unplug fakezero",
        "Faults: none (");
    row("split", "", "split (5 bytes, 20 ms, 3 bytes)");
    row("unplug, the fault", "", "unplug (pull the cable instead of replying),");
    row("fakezero", "", "fakezero (acknowledge a zero without taking it: the weight stays).");
    row("--port", "", "--port <N>");
    row("--address", "", "--address <A>");
    row("--load", "", "--load <X>");
    row("--drift", "", "--drift ");
    row("--reply-delay", "", "--reply-delay <MS>");
    row("--no-pacing", "", "--no-pacing ");
    row("--fault", "", "--fault <NAME>");
    row("--fault-rate", "", "--fault-rate <P>");
    row("--seed", "", "--seed <S>");
    row("--unplug-after", "", "--unplug-after <S>");
}

void TestModuleSim::help()
{
    QFETCH(QString, console);
    QFETCH(QString, help);

    QCommandLineParser parser;
    pondara::sim::add_options(parser);
    // A command starts a line of its own; the rest may be broken over lines.
    const QString text = help.startsWith(QLatin1Char('\n')) ? parser.helpText() : parser.helpText().simplified();
    QVERIFY2(pondara::sim::console_help().contains(console), qPrintable(pondara::sim::console_help()));
    QVERIFY2(text.contains(help), qPrintable(parser.helpText()));
}

QTEST_GUILESS_MAIN(TestModuleSim)
#include "tst_module_sim.moc"
