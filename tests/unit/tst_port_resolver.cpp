// Port numbering over fake /dev and /sys trees: the order of the machine's
// ports, ghost UARTs, virtual links taking precedence, numbers out of range,
// targets that are not devices, and the lines of the numbering.

#include "serial/port_resolver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace pondara;

namespace {

// A tree with dev/, sys/ and run/ under one temporary folder. Device entries
// are empty files unless made links; "ttyS0=4" gives ttyS0 a type file.
struct Tree {
    QTemporaryDir dir;

    QString path(const QString& relative) const { return dir.path() + QLatin1Char('/') + relative; }
    PortResolver resolver() const { return PortResolver({path("run"), path("dev"), path("sys")}); }

    Tree(const QStringList& devices, const QStringList& types)
    {
        for (const char* sub : {"dev", "sys", "run"})
            QDir().mkpath(path(QLatin1String(sub)));
        for (const QString& name : devices) {
            QFile file(path("dev/" + name));
            file.open(QIODevice::WriteOnly);
        }
        for (const QString& type : types) {
            const QStringList parts = type.split('=');
            QDir().mkpath(path("sys/" + parts[0]));
            QFile file(path("sys/" + parts[0] + "/type"));
            file.open(QIODevice::WriteOnly);
            file.write(parts[1].toLatin1() + "\n");
        }
    }
};

QStringList names_of(const QStringList& paths)
{
    QStringList names;
    for (const QString& p : paths)
        names.append(p.section('/', -1));
    return names;
}

}  // namespace

class TestPortResolver : public QObject {
    Q_OBJECT

private slots:
    void order_data();
    void order();
    void resolve_data();
    void resolve();
    void mapping();
    void empty_machine();
};

void TestPortResolver::order_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("numeric, not alphabetic")
        << QStringList {"ttyS10", "ttyS2", "ttyS1"} << QStringList {"ttyS1=4", "ttyS2=4", "ttyS10=4"}
        << QStringList {"ttyS1", "ttyS2", "ttyS10"};
    QTest::newRow("UARTs before USB adapters")
        << QStringList {"ttyUSB0", "ttyACM0", "ttyS0", "ttyAMA0"} << QStringList {"ttyS0=4"}
        << QStringList {"ttyS0", "ttyAMA0", "ttyUSB0", "ttyACM0"};
    QTest::newRow("USB numeric, ttyUSB before ttyACM")
        << QStringList {"ttyUSB10", "ttyACM1", "ttyUSB9", "ttyACM0"} << QStringList {}
        << QStringList {"ttyUSB9", "ttyUSB10", "ttyACM0", "ttyACM1"};
    QTest::newRow("ghost ttyS: type 0 or no type file")
        << QStringList {"ttyS0", "ttyS1", "ttyS2", "ttyS3"} << QStringList {"ttyS0=0", "ttyS1=4", "ttyS2=0"}
        << QStringList {"ttyS1"};
    QTest::newRow("ttyAMA: type 0 skipped, no type file counts")
        << QStringList {"ttyAMA0", "ttyAMA1", "ttyAMA2"} << QStringList {"ttyAMA0=0", "ttyAMA2=1"}
        << QStringList {"ttyAMA1", "ttyAMA2"};
    QTest::newRow("other entries ignored") << QStringList {"tty0",   "tty1",    "ttyS",      "ttyUSB", "ttyUSBx",
                                                           "ttyS1a", "console", "ttyprintk", "ptmx",   "ttyUSB3"}
                                           << QStringList {} << QStringList {"ttyUSB3"};
}

void TestPortResolver::order()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, types);
    QFETCH(QStringList, expected);

    const Tree tree(devices, types);
    QCOMPARE(names_of(tree.resolver().machine_ports()), expected);
}

void TestPortResolver::resolve_data()
{
    // Machine ports 1 = ttyS0 (a link to /dev/null), 2 = ttyUSB0 (/dev/zero),
    // 3 = ttyUSB1 (an empty file); virtual com2 and com4..com8.
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("reason");  // -1: resolves
    QTest::addColumn<QString>("device");

    const int no_port = static_cast<int>(OpenFailure::Reason::no_such_port);
    const int not_device = static_cast<int>(OpenFailure::Reason::not_a_device);
    QTest::newRow("machine port through its link") << 1 << -1 << "/dev/null";
    QTest::newRow("virtual link wins over machine port 2") << 2 << -1 << "/dev/full";
    QTest::newRow("machine port that is a plain file") << 3 << not_device << "";
    QTest::newRow("virtual link through another link") << 4 << -1 << "/dev/zero";
    QTest::newRow("dangling virtual link") << 5 << not_device << "";
    QTest::newRow("virtual link to a regular file") << 6 << not_device << "";
    QTest::newRow("virtual link to a folder") << 7 << not_device << "";
    QTest::newRow("beyond the last port") << 9 << no_port << "";
    QTest::newRow("zero") << 0 << no_port << "";
    QTest::newRow("negative") << -1 << no_port << "";
}

void TestPortResolver::resolve()
{
    QFETCH(int, number);
    QFETCH(int, reason);
    QFETCH(QString, device);

    const Tree tree({"ttyUSB1"}, {"ttyS0=4"});
    QVERIFY(QFile::link("/dev/null", tree.path("dev/ttyS0")));
    QVERIFY(QFile::link("/dev/zero", tree.path("dev/ttyUSB0")));
    QVERIFY(QFile::link("/dev/full", tree.path("run/com2")));
    QVERIFY(QFile::link(tree.path("dev/ttyUSB0"), tree.path("run/com4")));
    QVERIFY(QFile::link(tree.path("gone"), tree.path("run/com5")));
    QFile regular(tree.path("plain"));
    QVERIFY(regular.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(tree.path("plain"), tree.path("run/com6")));
    QVERIFY(QDir().mkpath(tree.path("folder")));
    QVERIFY(QFile::link(tree.path("folder"), tree.path("run/com7")));
    QVERIFY(QFile::link("/dev/null", tree.path("run/not-a-port")));

    const auto result = tree.resolver().resolve(number);
    if (reason < 0) {
        const auto* failure = std::get_if<OpenFailure>(&result);
        QVERIFY2(failure == nullptr, failure ? qPrintable(failure->detail) : "");
        QCOMPARE(std::get<PortTarget>(result).device, device);
    } else {
        QVERIFY(std::holds_alternative<OpenFailure>(result));
        const OpenFailure& failure = std::get<OpenFailure>(result);
        QCOMPARE(static_cast<int>(failure.reason), reason);
        QVERIFY(!failure.detail.isEmpty());
        if (failure.reason == OpenFailure::Reason::no_such_port)
            QVERIFY2(failure.detail.contains("1 = " + tree.path("dev/ttyS0")), qPrintable(failure.detail));
    }
}

void TestPortResolver::mapping()
{
    const Tree tree({"ttyS0", "ttyUSB0", "ttyUSB1"}, {"ttyS0=4"});
    QVERIFY(QFile::link("/dev/null", tree.path("run/com2")));
    QVERIFY(QFile::link(tree.path("gone"), tree.path("run/com5")));

    const QString arrow = QStringLiteral(" \u2192 ");
    const QStringList expected {
        "1 = " + tree.path("dev/ttyS0"),
        "2 = " + tree.path("run/com2") + arrow + "/dev/null",
        "3 = " + tree.path("dev/ttyUSB1"),
        "5 = " + tree.path("run/com5") + arrow + tree.path("gone") + " (missing)",
    };
    QCOMPARE(tree.resolver().mapping(), expected);
}

void TestPortResolver::empty_machine()
{
    const Tree tree({}, {});
    QVERIFY(tree.resolver().mapping().isEmpty());
    const auto result = tree.resolver().resolve(1);
    QVERIFY(std::holds_alternative<OpenFailure>(result));
    QCOMPARE(std::get<OpenFailure>(result).reason, OpenFailure::Reason::no_such_port);
    QVERIFY(!std::get<OpenFailure>(result).detail.isEmpty());
}

QTEST_GUILESS_MAIN(TestPortResolver)
#include "tst_port_resolver.moc"
