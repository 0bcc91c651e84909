// The real port object on pseudo-terminals reached through virtual port
// links: one-block writes and writes the driver takes only part of, OnComm
// rounds, the driver waking the event loop
// only once the threshold is reached, clearing, exclusive opening within
// the program and against a second process, other programs' lock files in
// each of their formats, refusal of targets that are not devices, a device
// that takes no more data, and losing the device and getting it back.

#include "file_touches.h"
#include "lock_folder.h"
#include "platform/virtual_port.h"
#include "pseudo_terminal.h"
#include "run_until.h"
#include "serial/module_link.h"
#include "serial/qt_port_object.h"
#include "ui/messages.h"
#include "virtual_port_links.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

using namespace pondara;
using pondara::sim::PseudoTerminal;
using pondara::test::lock_files;
using pondara::test::run_for;
using pondara::test::run_until;

namespace {

const char* const helper_variable = "PONDARA_PORT_HELPER";

QByteArray counting_bytes(int count, int first = 1)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(static_cast<char>(first + i));
    return bytes;
}

// Writes `count` bytes 'x' one at a time to `fd`, the port's end of a
// pseudo-terminal whose other end reads nothing meanwhile. While the queue is
// full it waits for the kernel to move bytes on to the other end, and gives
// up once nothing has gone for a second. Returns how many went.
int fill_line(int fd, int count)
{
    QElapsedTimer idle;
    idle.start();
    int written = 0;
    while (written < count && idle.elapsed() < 1000) {
        if (::write(fd, "x", 1) == 1) {
            ++written;
            idle.restart();
        } else {
            ::usleep(1000);
        }
    }
    return written;
}

// Reads `count` bytes from `fd` (non-blocking) and drops them; returns how
// many came before nothing more did for a second.
int drain_line(int fd, int count)
{
    QElapsedTimer idle;
    idle.start();
    int taken = 0;
    char buffer[4096];
    while (taken < count && idle.elapsed() < 1000) {
        const ssize_t n
            = ::read(fd, buffer, std::min<std::size_t>(sizeof buffer, static_cast<std::size_t>(count - taken)));
        if (n > 0) {
            taken += static_cast<int>(n);
            idle.restart();
        } else {
            ::usleep(1000);
        }
    }
    return taken;
}

// The id of a process that no longer runs: a child that ended at once.
qint64 ended_process()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// Root only: acts as user `name` (effective user and group, no supplementary
// groups) until destroyed, so that file permissions apply as to that user.
class EffectiveUser {
public:
    explicit EffectiveUser(const char* name) : m_groups(static_cast<std::size_t>(::getgroups(0, nullptr)))
    {
        ::getgroups(static_cast<int>(m_groups.size()), m_groups.data());
        const passwd* user = ::getpwnam(name);
        m_ok = user && ::setgroups(0, nullptr) == 0 && ::setegid(user->pw_gid) == 0 && ::seteuid(user->pw_uid) == 0;
    }
    ~EffectiveUser()
    {
        [[maybe_unused]] const bool back
            = ::seteuid(0) == 0 && ::setegid(m_gid) == 0 && ::setgroups(m_groups.size(), m_groups.data()) == 0;
    }
    EffectiveUser(const EffectiveUser&) = delete;
    EffectiveUser& operator=(const EffectiveUser&) = delete;

    bool ok() const { return m_ok; }

private:
    std::vector<gid_t> m_groups;
    gid_t m_gid = ::getegid();
    bool m_ok = false;
};

// Takes bytes in an OnComm handler, `take` a round (0: none), and counts the
// rounds. Past 100 rounds it closes the port so that a runaway loop ends.
struct Taker {
    Taker(QtPortObject& port_, int take_) : port(port_), take(take_) { }

    QtPortObject& port;
    int take;
    int rounds = 0;
    bool wrong_event = false;
    QByteArray taken;

    void attach()
    {
        QObject::connect(&port, &PortObject::onComm, &port, [this] {
            ++rounds;
            wrong_event |= port.commEvent() != PortObject::com_ev_receive;
            for (int i = 0; i < take; ++i)
                if (const auto byte = port.input())
                    taken.append(static_cast<char>(*byte));
            if (rounds > 100)
                port.setPortOpen(false);
        });
    }
};

// Counts the socket notifier activations of one port's QSerialPort (its
// read and write notifiers are its children) from its creation on.
class PortWakeups : public QObject {
public:
    explicit PortWakeups(const QtPortObject& port) : m_serial(port.findChild<QSerialPort*>())
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~PortWakeups() override { QCoreApplication::instance()->removeEventFilter(this); }

    int count() const { return m_count; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::SockAct && m_serial && watched->parent() == m_serial)
            ++m_count;
        return QObject::eventFilter(watched, event);
    }

private:
    const QSerialPort* m_serial;
    int m_count = 0;
};

// A lock file naming process `pid` and `program` in one of the formats
// serial programs write.
QByteArray lock_text(const QString& format, qint64 pid, const QByteArray& program)
{
    if (format == "binary") {
        const auto id = static_cast<std::int32_t>(pid);
        return QByteArray(reinterpret_cast<const char*>(&id), sizeof id);
    }
    const QByteArray padded = QByteArray::number(pid).rightJustified(10, ' ');
    if (format == "ASCII")
        return padded + '\n';
    if (format == "ASCII named")
        return padded + ' ' + program + " operator\n";
    return QByteArray::number(pid) + '\n' + program + '\n' + QSysInfo::machineHostName().toUtf8() + '\n';  // Qt's
}

QByteArray file_bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// Child process modes: "hold" opens port 1, says so on stdout and keeps it
// open until its stdin closes; "try" opens port 1 and exits with 0 when that
// worked, or 10 plus the failure reason; "plain" opens the device named by
// its argument as a terminal program does, without exclusive mode or lock,
// and keeps it open like "hold".
int run_helper(const QByteArray& mode)
{
    if (mode == "plain") {
        const QByteArray device = QFile::encodeName(QCoreApplication::arguments().value(1));
        const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY);
        std::printf("%s\n", fd >= 0 ? "open" : "failed");
        std::fflush(stdout);
        while (std::getchar() != EOF) { }
        return 0;
    }
    QtPortObject port;
    port.setCommPort(1);
    const auto failure = port.setPortOpen(true);
    if (mode == "try")
        return failure ? 10 + static_cast<int>(failure->reason) : 0;
    std::printf("%s\n", failure ? "failed" : "open");
    std::fflush(stdout);
    while (std::getchar() != EOF) { }
    return 0;
}

}  // namespace

class TestPortObject : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writes_data();
    void writes();
    void receive_rounds_data();
    void receive_rounds();
    void bytes_arriving_during_handler();
    void driver_wakes_at_threshold_data();
    void driver_wakes_at_threshold();
    void handler_closes_or_destroys_data();
    void handler_closes_or_destroys();
    void clear_in_buffer_data();
    void clear_in_buffer();
    void second_open_refused_data();
    void second_open_refused();
    void other_process_data();
    void other_process();
    void lock_of_another_program_data();
    void lock_of_another_program();
    void refused_before_opening_data();
    void refused_before_opening();
    void full_output_queue();
    void loss_and_reopen_data();
    void loss_and_reopen();

private:
    std::unique_ptr<QtPortObject> make_port(int number = 1) const;
    std::unique_ptr<QtPortObject> open_port(PseudoTerminal& pty);

    QTemporaryDir m_files;  // no machine ports: only virtual ports count
};

std::unique_ptr<QtPortObject> TestPortObject::make_port(int number) const
{
    auto port = std::make_unique<QtPortObject>(
        PortResolver::Roots {virtual_port_dir(), m_files.filePath("dev"), m_files.filePath("sys")});
    port->setCommPort(static_cast<std::int16_t>(number));
    port->setRThreshold(8);
    return port;
}

// Opens `pty` and the port on it, through the link of port 1.
std::unique_ptr<QtPortObject> TestPortObject::open_port(PseudoTerminal& pty)
{
    if (!pty.open(nullptr) || !test::publish_virtual_port(1, pty.device_path()))
        return nullptr;
    auto port = make_port();
    if (const auto failure = port->setPortOpen(true)) {
        qWarning() << "open failed:" << failure->detail;
        return nullptr;
    }
    return port;
}

void TestPortObject::init()
{
    QVERIFY(QDir().mkpath(m_files.filePath("dev")));
    QVERIFY(QDir(virtual_port_dir()).removeRecursively());
}

void TestPortObject::cleanup() { QDir(virtual_port_dir()).removeRecursively(); }

void TestPortObject::writes_data()
{
    // Bytes of room left in the driver's output queue when the request is
    // written; -1: the queue is empty.
    QTest::addColumn<int>("room");
    QTest::addColumn<bool>("taken");  // the request was taken, at once or in part
    QTest::newRow("empty queue: one block, no wake-up") << -1 << true;
    QTest::newRow("3 bytes of room: the other 5 follow") << 3 << true;
    QTest::newRow("no room: dropped whole, the port stays open") << 0 << false;
}

void TestPortObject::writes()
{
    QFETCH(int, room);
    QFETCH(bool, taken);

    PseudoTerminal pty;
    const auto port = open_port(pty);
    QVERIFY(port);
    QCOMPARE(port->deviceName(), QFileInfo(pty.device_path()).canonicalFilePath());
    QByteArray received;
    connect(&pty, &PseudoTerminal::received, this, [&](const QByteArray& bytes) { received += bytes; });

    int filled = 0;
    if (room >= 0) {
        // No event loop runs, so nothing reads the line: find how much its
        // queue holds, then fill it short of that by `room`, as a probe of 8
        // bytes proves, and once more for the request.
        const int line = port->findChild<QSerialPort*>()->handle();
        const int holds = fill_line(line, std::numeric_limits<int>::max());
        QCOMPARE(drain_line(pty.fd(), holds), holds);
        filled = holds - room;
        QCOMPARE(fill_line(line, filled), filled);
        QCOMPARE(std::max(::write(line, "12345678", 8), ssize_t {0}), ssize_t {room});
        QCOMPARE(drain_line(pty.fd(), holds), holds);
        QCOMPARE(fill_line(line, filled), filled);
    }

    PortWakeups wakeups(*port);
    QCOMPARE(port->setOutput({0x55, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x57}), taken);
    const int expected = filled + (taken ? 8 : 0);
    QVERIFY(run_until([&] { return received.size() >= expected; }, 5000));
    run_for(50);
    QCOMPARE(received.size(), expected);
    QCOMPARE(received.count('x'), filled);
    QCOMPARE(received.mid(filled).toHex(' '), QByteArray(taken ? "55 01 01 00 00 00 00 57" : ""));
    QVERIFY(port->portOpen());
    // Into an empty queue the block goes at once: no write notifier of the
    // port woke the loop.
    if (room < 0)
        QCOMPARE(wakeups.count(), 0);
}

void TestPortObject::receive_rounds_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<int>("take");
    QTest::addColumn<QList<int>>("rounds_after");  // OnComm count after each chunk
    QTest::addColumn<QByteArray>("taken");

    QTest::newRow("5 then 3: once, at the 8th byte") << QList<QByteArray> {counting_bytes(5), counting_bytes(3, 6)} << 8
                                                     << 8 << QList<int> {0, 1} << counting_bytes(8);
    QTest::newRow("16 at once: two rounds of 8")
        << QList<QByteArray> {counting_bytes(16)} << 8 << 8 << QList<int> {2} << counting_bytes(16);
    QTest::newRow("12 at once, then 4: the 4 left complete a round")
        << QList<QByteArray> {counting_bytes(12), counting_bytes(4, 13)} << 8 << 8 << QList<int> {1, 2}
        << counting_bytes(16);
    QTest::newRow("handler takes nothing: once per arrival")
        << QList<QByteArray> {counting_bytes(8), counting_bytes(8)} << 8 << 0 << QList<int> {1, 2} << QByteArray();
    QTest::newRow("threshold 1: a round per byte")
        << QList<QByteArray> {counting_bytes(3)} << 1 << 1 << QList<int> {3} << counting_bytes(3);
    QTest::newRow("threshold 0: no OnComm")
        << QList<QByteArray> {counting_bytes(8)} << 0 << 8 << QList<int> {0} << QByteArray();
}

void TestPortObject::receive_rounds()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(int, threshold);
    QFETCH(int, take);
    QFETCH(QList<int>, rounds_after);
    QFETCH(QByteArray, taken);

    PseudoTerminal pty;
    const auto port = open_port(pty);
    QVERIFY(port);
    port->setRThreshold(static_cast<std::int16_t>(threshold));
    Taker taker(*port, take);
    taker.attach();

    for (int i = 0; i < chunks.size(); ++i) {
        QVERIFY(pty.write(chunks[i]));
        QVERIFY(run_until([&] { return taker.rounds >= rounds_after[i]; }, 2000));
        run_for(100);  // and no further round
        QCOMPARE(taker.rounds, rounds_after[i]);
    }
    QCOMPARE(taker.taken.toHex(' '), taken.toHex(' '));
    QVERIFY(!taker.wrong_event);
    QVERIFY(port->portOpen());
}

// Qt does not signal bytes that arrive while a handler runs a nested event
// loop; the port must raise OnComm for them when the handler returns.
void TestPortObject::bytes_arriving_during_handler()
{
    PseudoTerminal pty;
    const auto port = open_port(pty);
    QVERIFY(port);
    int rounds = 0;
    QByteArray taken;
    connect(port.get(), &PortObject::onComm, this, [&] {
        ++rounds;
        for (int i = 0; i < 8; ++i)
            taken.append(static_cast<char>(port->input().value_or(0)));
        if (rounds == 1) {
            pty.write(counting_bytes(8, 20));
            run_for(200);
        }
    });

    QVERIFY(pty.write(counting_bytes(8)));
    QVERIFY(run_until([&] { return rounds >= 2; }, 2000));
    run_for(100);
    QCOMPARE(rounds, 2);
    QCOMPARE(taken.toHex(' '), (counting_bytes(8) + counting_bytes(8, 20)).toHex(' '));
}

void TestPortObject::driver_wakes_at_threshold_data()
{
    QTest::addColumn<int>("first");  // bytes sent at once first, taken 8 a round
    QTest::addColumn<bool>("clear");  // then the input is cleared, as before every write
    QTest::addColumn<int>("quiet");  // bytes then sent one by one: the port must not wake the loop
    QTest::addColumn<int>("waiting");  // InBufferCount then, wherever the bytes wait
    QTest::addColumn<int>("rounds");  // OnComm rounds once one byte more has come

    QTest::newRow("7 bytes of a reply, then the 8th") << 0 << false << 7 << 7 << 1;
    QTest::newRow("4 left of 12, 3 more, then the 8th") << 12 << false << 3 << 7 << 2;
    QTest::newRow("4 left of 12 cleared, 7 more, then the 8th") << 12 << true << 7 << 7 << 2;
}

// A reply that arrives byte by byte wakes the event loop once, when the
// threshold is reached across the driver's bytes and those already read.
void TestPortObject::driver_wakes_at_threshold()
{
    QFETCH(int, first);
    QFETCH(bool, clear);
    QFETCH(int, quiet);
    QFETCH(int, waiting);
    QFETCH(int, rounds);

    PseudoTerminal pty;
    const auto port = open_port(pty);
    QVERIFY(port);
    Taker taker(*port, 8);
    taker.attach();
    if (first > 0) {
        QVERIFY(pty.write(counting_bytes(first)));
        QVERIFY(run_until([&] { return taker.rounds >= 1; }, 2000));
    }
    if (clear)
        port->clearInBuffer();

    PortWakeups wakeups(*port);
    for (int i = 0; i < quiet; ++i) {
        QVERIFY(pty.write(counting_bytes(1, 100 + i)));
        run_for(20);
    }
    QCOMPARE(wakeups.count(), 0);
    QCOMPARE(port->inBufferCount(), waiting);
    QVERIFY(pty.write(counting_bytes(1, 200)));
    QVERIFY(run_until([&] { return taker.rounds >= rounds; }, 2000));
    run_for(100);  // and no further round
    QCOMPARE(taker.rounds, rounds);
    QVERIFY(port->portOpen());
}

void TestPortObject::handler_closes_or_destroys_data()
{
    QTest::addColumn<bool>("destroy");
    QTest::newRow("closes the port") << false;
    QTest::newRow("destroys the port") << true;
}

void TestPortObject::handler_closes_or_destroys()
{
    QFETCH(bool, destroy);

    PseudoTerminal pty;
    std::unique_ptr<QtPortObject> port = open_port(pty);
    QVERIFY(port);
    const QPointer<QtPortObject> watch(port.get());
    // Qt writes into the QSerialPort after its readyRead handlers return, so
    // it must outlive a port object destroyed by one (the sanitizers cannot
    // see inside Qt).
    const QPointer<QSerialPort> serial(port->findChild<QSerialPort*>());
    QVERIFY(serial);
    bool serial_outlived_handler = false;
    int rounds = 0;
    connect(port.get(), &PortObject::onComm, this, [&] {
        ++rounds;
        for (int i = 0; i < 8; ++i)
            port->input();
        if (destroy) {
            port.reset();
            serial_outlived_handler = !serial.isNull();
        } else {
            port->setPortOpen(false);
        }
    });

    QVERIFY(pty.write(counting_bytes(24)));
    QVERIFY(run_until([&] { return rounds >= 1; }, 2000));
    run_for(100);
    QCOMPARE(rounds, 1);
    QCOMPARE(watch.isNull(), destroy);
    QCOMPARE(serial_outlived_handler, destroy);
    QCOMPARE(serial.isNull(), destroy);  // and is gone afterwards
    if (!destroy)
        QVERIFY(!port->portOpen());

    // The device is free again.
    const auto again = make_port();
    QCOMPARE(again->setPortOpen(true), std::nullopt);
}

void TestPortObject::clear_in_buffer_data()
{
    QTest::addColumn<bool>("read_by_qt");
    QTest::newRow("bytes in Qt's buffer") << true;
    QTest::newRow("bytes still in the driver") << false;
}

void TestPortObject::clear_in_buffer()
{
    QFETCH(bool, read_by_qt);

    PseudoTerminal pty;
    const auto port = open_port(pty);
    QVERIFY(port);
    Taker taker(*port, 8);
    taker.attach();

    QVERIFY(pty.write(counting_bytes(5, 100)));
    if (read_by_qt)
        QVERIFY(run_until([&] { return port->inBufferCount() == 5; }, 2000));
    else
        ::usleep(100 * 1000);  // the driver gets them; Qt runs no event loop to read them
    port->clearInBuffer();
    QCOMPARE(port->inBufferCount(), 0);
    QCOMPARE(port->input(), std::nullopt);

    QVERIFY(pty.write(counting_bytes(8)));
    QVERIFY(run_until([&] { return taker.rounds >= 1; }, 2000));
    run_for(100);
    QCOMPARE(taker.rounds, 1);
    QCOMPARE(taker.taken.toHex(' '), counting_bytes(8).toHex(' '));
}

void TestPortObject::second_open_refused_data()
{
    // Each port number's link leads to the pseudo-terminal either directly
    // ("device") or through a second link ("alias").
    QTest::addColumn<int>("second_number");
    QTest::addColumn<QString>("first_target");
    QTest::addColumn<QString>("second_target");

    QTest::newRow("same number twice") << 1 << "device"
                                       << "device";
    QTest::newRow("two links to one device") << 2 << "device"
                                             << "device";
    QTest::newRow("through a link, then the device path") << 2 << "alias"
                                                          << "device";
    QTest::newRow("device path, then through a link") << 2 << "device"
                                                      << "alias";
}

void TestPortObject::second_open_refused()
{
    QFETCH(int, second_number);
    QFETCH(QString, first_target);
    QFETCH(QString, second_target);

    PseudoTerminal pty;
    QVERIFY(pty.open(nullptr));
    const QString alias = m_files.filePath("alias");
    QFile::remove(alias);
    QVERIFY(QFile::link(pty.device_path(), alias));
    const auto target = [&](const QString& kind) { return kind == "alias" ? alias : pty.device_path(); };
    QVERIFY(test::publish_virtual_port(1, target(first_target)));
    if (second_number != 1)
        QVERIFY(test::publish_virtual_port(second_number, target(second_target)));

    const auto first = make_port(1);
    const auto second = make_port(second_number);
    QCOMPARE(first->setPortOpen(true), std::nullopt);

    const auto failure = second->setPortOpen(true);
    QVERIFY(failure.has_value());
    QCOMPARE(failure->reason, OpenFailure::Reason::in_use);
    QCOMPARE(failure->device, QFileInfo(pty.device_path()).canonicalFilePath());
    QVERIFY(!second->portOpen());

    first->setPortOpen(false);
    QCOMPARE(second->setPortOpen(true), std::nullopt);
}

void TestPortObject::other_process_data()
{
    QTest::addColumn<bool>("other_first");
    QTest::newRow("the other program holds it") << true;
    QTest::newRow("this program holds it") << false;
}

void TestPortObject::other_process()
{
    QFETCH(bool, other_first);

    PseudoTerminal pty;
    QVERIFY(pty.open(nullptr));
    const QString alias = m_files.filePath("alias");
    QFile::remove(alias);
    QVERIFY(QFile::link(pty.device_path(), alias));
    // The other program reaches the device through a link of its own.
    QVERIFY(test::publish_virtual_port(1, alias));
    const auto port = make_port(2);
    QVERIFY(test::publish_virtual_port(2, pty.device_path()));

    QProcess other;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(helper_variable), other_first ? "hold" : "try");
    other.setProcessEnvironment(environment);
    // However the test goes, the helper ends by itself and its lock file goes
    // with it (a QProcess destroyed while running kills it with SIGKILL).
    const auto end_other = qScopeGuard([&] {
        other.closeWriteChannel();
        other.waitForFinished(10'000);
    });

    if (other_first) {
        other.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(other.waitForReadyRead(10000));
        QCOMPARE(other.readLine().trimmed(), QByteArray("open"));

        const auto failure = port->setPortOpen(true);
        QVERIFY(failure.has_value());
        QCOMPARE(failure->reason, OpenFailure::Reason::in_use);
        // The failure names the holder, read from its lock file.
        QCOMPARE(failure->lock_pid, other.processId());
        QCOMPARE(failure->lock_program, QStringLiteral("tst_port_object"));

        other.closeWriteChannel();
        QVERIFY(other.waitForFinished(10000));
        QCOMPARE(port->setPortOpen(true), std::nullopt);
    } else {
        QCOMPARE(port->setPortOpen(true), std::nullopt);
        other.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(other.waitForFinished(10000));
        QCOMPARE(other.exitCode(), 10 + static_cast<int>(OpenFailure::Reason::in_use));
    }
}

void TestPortObject::lock_of_another_program_data()
{
    // A lock file in one of the formats serial programs write, naming a
    // process that runs (a child that has the device open without exclusive
    // mode, as a terminal program has it), one that is gone, or one whose id
    // another program now has; or a link in the lock file's place, to a lock
    // file elsewhere. With other_user, root writes it and the port opens as
    // nobody, who may not remove it.
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("holder");  // "running", "gone" or "reused"
    QTest::addColumn<bool>("other_user");
    QTest::addColumn<QString>("message");  // with {device}, {lock} and {pid}; empty: the port opens

    const QString running = QStringLiteral("错误 8005：端口已被占用\n"
                                           "串口 1（{device}）已被本程序的其他窗口或其他程序打开。\n"
                                           "锁文件 {lock} 中记录的程序 tst_port_object（进程 {pid}）正在运行。");
    const QString stale
        = QStringLiteral("错误 8006：锁文件残留\n"
                         "串口 1（{device}）被锁文件 {lock} 锁定，无法打开。\n"
                         "锁文件中记录的程序 %1（进程 {pid}）已不在运行，但当前用户无权删除这个锁文件。\n"
                         "删除它后即可打开串口：\n"
                         "sudo rm '{lock}'");
    for (const char* format : {"binary", "ASCII", "ASCII named", "Qt"}) {
        QTest::addRow("%s, running: refused, left as it is", format) << format << "running" << false << running;
        QTest::addRow("%s, gone: taken over", format) << format << "gone" << false << QString();
    }
    QTest::newRow("Qt, id reused: taken over") << "Qt"
                                               << "reused" << false << QString();
    QTest::newRow("Qt, gone, another user's: named, with the command that removes it")
        << "Qt"
        << "gone" << true << stale.arg("pondara-bench-naive");
    QTest::newRow("Qt, id reused, another user's: stale, with the command that removes it")
        << "Qt"
        << "reused" << true << stale.arg("pondara");
    QTest::newRow("a link in its place: no command, neither link nor file touched")
        << "link"
        << "gone" << false
        << QStringLiteral("错误 8007：锁文件可疑\n"
                          "串口 1（{device}）被锁文件 {lock} 锁定，无法打开。\n"
                          "这个锁文件是符号链接或特殊文件，而串口程序留下的锁文件都是普通文件，因此它看起来可疑；"
                          "本程序没有读取也没有改动它。\n"
                          "请手工检查它是谁建立的、指向哪里，再决定如何处理。");
}

void TestPortObject::lock_of_another_program()
{
    QFETCH(QString, format);
    QFETCH(QString, holder);
    QFETCH(bool, other_user);
    QFETCH(QString, message);
    if (other_user && ::geteuid() != 0)
        QSKIP("only root can leave a lock file that this user may not remove");

    PseudoTerminal pty;
    QVERIFY(pty.open(nullptr));
    // A folder of virtual ports that nobody may read too.
    QTemporaryDir ports;
    QVERIFY(QFile::setPermissions(ports.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                    | QFile::ReadOther | QFile::ExeOther));
    QVERIFY(QFile::link(pty.device_path(), ports.filePath("com1")));
    const QString device = QFileInfo(pty.device_path()).canonicalFilePath();
    const QString lock = test::lock_file_for(device);
    QVERIFY2(!QFileInfo::exists(lock), qPrintable(lock));

    QProcess other;
    const auto end_other = qScopeGuard([&] {
        other.closeWriteChannel();
        other.waitForFinished(10'000);
    });
    if (holder != "gone") {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(helper_variable), "plain");
        other.setProcessEnvironment(environment);
        other.start(QCoreApplication::applicationFilePath(), {device});
        QVERIFY(other.waitForReadyRead(10'000));
        QCOMPARE(other.readLine().trimmed(), QByteArray("open"));
    }
    const qint64 pid = holder == "gone" ? ended_process() : other.processId();
    const QByteArray program = holder == "running"  ? QFile::encodeName(QCoreApplication::applicationFilePath())
                               : holder == "reused" ? QByteArray("pondara")
                                                    : QByteArray("pondara-bench-naive");
    const QByteArray text = lock_text(format == "link" ? "Qt" : format, pid, program);
    QTemporaryDir elsewhere;
    const QString written = format == "link" ? elsewhere.filePath("LCK..elsewhere") : lock;
    QFile file(written);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const auto remove_lock = qScopeGuard([&] { QFile::remove(lock); });
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    file.write(text);
    file.close();
    if (format == "link")
        QVERIFY(QFile::link(written, lock));

    QtPortObject port(PortResolver::Roots {ports.path(), ports.filePath("dev"), ports.filePath("sys")});
    port.setCommPort(1);
    std::optional<OpenFailure> failure;
    {
        std::optional<EffectiveUser> as_nobody;
        if (other_user) {
            as_nobody.emplace("nobody");
            QVERIFY(as_nobody->ok());
        }
        failure = port.setPortOpen(true);
        port.setPortOpen(false);
    }

    if (message.isEmpty()) {
        QCOMPARE(failure, std::nullopt);
        QVERIFY2(!QFileInfo::exists(lock), qPrintable(lock));
        return;
    }
    QVERIFY(failure.has_value());
    // The lock file's folder is shown with its links resolved (/var/lock is
    // often a link to /run/lock), the lock file itself as it is.
    const QString shown = QFileInfo(QFileInfo(lock).path()).canonicalFilePath() + "/" + QFileInfo(lock).fileName();
    QCOMPARE(
        messages::open_failed(1, *failure, {}),
        QString(message).replace("{device}", device).replace("{lock}", shown).replace("{pid}", QString::number(pid)));
    QCOMPARE(file_bytes(written), text);
    QCOMPARE(QFileInfo(lock).symLinkTarget(), format == "link" ? written : QString());
}

void TestPortObject::refused_before_opening_data()
{
    QTest::addColumn<QString>("target");  // what the link of port 1 leads to; empty: no link
    QTest::addColumn<OpenFailure::Reason>("reason");

    QTest::newRow("regular file") << "file" << OpenFailure::Reason::not_a_device;
    QTest::newRow("folder") << "folder" << OpenFailure::Reason::not_a_device;
    QTest::newRow("dangling link") << "missing" << OpenFailure::Reason::not_a_device;
    QTest::newRow("no link and no machine port") << "" << OpenFailure::Reason::no_such_port;
}

void TestPortObject::refused_before_opening()
{
    QFETCH(QString, target);
    QFETCH(OpenFailure::Reason, reason);

    QTemporaryDir dir;
    const QByteArray content("untouched");
    QFile file(dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QVERIFY(QFile::setPermissions(file.fileName(), QFile::ReadOwner | QFile::WriteOwner));
    const QDateTime modified = QFileInfo(file).lastModified();
    QVERIFY(QDir().mkpath(dir.filePath("folder")));
    if (!target.isEmpty())
        QVERIFY(test::publish_virtual_port(1, dir.filePath(target)));
    const QStringList locks_before = lock_files();
    test::Touches touches;
    for (const QString& watched : {dir.path(), dir.filePath("folder"), QStringLiteral("/var/lock")})
        QVERIFY(touches.watch(watched));

    const auto port = make_port(1);
    const auto failure = port->setPortOpen(true);
    QVERIFY(failure.has_value());
    QCOMPARE(failure->reason, reason);
    QVERIFY(!failure->detail.isEmpty());
    QVERIFY(!port->portOpen());

    QCOMPARE(touches.events(), QStringList());
    QCOMPARE(lock_files(), locks_before);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
    QCOMPARE(QFileInfo(file).lastModified(), modified);
    QVERIFY(QDir(dir.filePath("folder")).isEmpty());
    QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
}

// A device that takes no more data (here a pseudo-terminal whose other end
// is never read) is not lost: requests it has no room for are dropped whole
// and counted as unsent, and once it reads again they go out whole.
void TestPortObject::full_output_queue()
{
    PseudoTerminal pty;
    QVERIFY(pty.open(nullptr, PseudoTerminal::Reading::by_caller));
    QVERIFY(test::publish_virtual_port(1, pty.device_path()));
    ModuleLink sender(make_port(), QStringLiteral("test"));
    QCOMPARE(sender.open(1), std::nullopt);
    PortObject* const port = &sender.port();
    QSignalSpy lost(port, &PortObject::lost);

    // The driver's queue takes a few kilobytes: far fewer than 100 KiB of requests.
    const Command read_ad {1, 0, 0, 0, 0};
    for (int i = 0; i < 12'800 && sender.health().counters().unsent < 3; ++i) {
        QCOMPARE(sender.send_frame("1", read_ad), ConversionError::none);
        QCoreApplication::processEvents();
    }
    const auto counters = sender.health().counters();
    QCOMPARE(counters.unsent, 3u);
    run_for(100);
    QVERIFY(port->portOpen());
    QCOMPARE(lost.size(), 0);

    // Whatever was taken arrives as whole requests, a block cut by the full
    // queue completed once there is room again.
    QByteArray arrived;
    for (int round = 0; round < 3; ++round) {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(pty.fd(), buffer, sizeof buffer)) > 0)
            arrived.append(buffer, n);
        run_for(50);
    }
    const qsizetype sent = static_cast<qsizetype>(counters.requests - counters.unsent);
    QCOMPARE(arrived.size(), 8 * sent);
    QCOMPARE(arrived.left(8).toHex(' '), QByteArray("55 01 01 00 00 00 00 57"));
    QCOMPARE(arrived.count(QByteArray::fromHex("5501010000000057")), sent);
    QCOMPARE(sender.send_frame("1", read_ad), ConversionError::none);
    QCOMPARE(sender.health().counters().unsent, 3u);
}

// What the line is doing when its other end goes: nothing; holding part of a
// reply, short of the threshold, in the driver; holding more than Qt's read
// buffer takes (Qt's read notifier is off); being written to.
enum class AtLoss { idle, part_of_a_reply, read_buffer_full, writing };
Q_DECLARE_METATYPE(AtLoss)

void TestPortObject::loss_and_reopen_data()
{
    QTest::addColumn<AtLoss>("at_loss");
    QTest::addColumn<int>("waiting");  // bytes received and not read when the line goes
    QTest::newRow("idle") << AtLoss::idle << 0;
    QTest::newRow("3 bytes of a reply waiting") << AtLoss::part_of_a_reply << 3;
    QTest::newRow("Qt's read buffer full") << AtLoss::read_buffer_full << 1100;
    QTest::newRow("noticed by writing") << AtLoss::writing << 0;
}

void TestPortObject::loss_and_reopen()
{
    QFETCH(AtLoss, at_loss);
    QFETCH(int, waiting);

    auto pty = std::make_unique<PseudoTerminal>();
    const auto port = open_port(*pty);
    QVERIFY(port);
    const QString device = port->deviceName();
    QSignalSpy lost(port.get(), &PortObject::lost);
    bool open_when_lost = true;
    PortLoss loss;
    connect(port.get(), &PortObject::lost, this, [&](const PortLoss& told) {
        open_when_lost = port->portOpen();
        loss = told;
    });
    if (waiting > 0) {
        QVERIFY(pty->write(counting_bytes(waiting)));
        QVERIFY(run_until([&] { return port->inBufferCount() == waiting; }, 2000));
    }

    QElapsedTimer since_loss;
    since_loss.start();
    pty->close();
    if (at_loss == AtLoss::writing) {
        // The write fails before the event loop sees the hang-up; the port
        // counts as closed at once.
        port->setOutput({0x55, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x57});
        QVERIFY(!port->portOpen());
    }
    QVERIFY(run_until([&] { return lost.size() >= 1; }, 2000));
    qInfo("lost after %lld ms", static_cast<long long>(since_loss.elapsed()));
    QVERIFY(!port->portOpen());
    QVERIFY(!open_when_lost);
    QCOMPARE(loss.device, device);

    // Nothing spins: no notifier keeps waking the loop on the hung-up descriptor.
    const int wakeups = test::socket_activations_during(1000);
    QVERIFY2(wakeups <= 2, qPrintable(QString::number(wakeups) + " socket wake-ups in 1 s"));
    QCOMPARE(lost.size(), 1);

    // A closed port ignores writes and reads.
    port->setOutput({1, 2, 3, 4, 5, 6, 7, 8});
    QCOMPARE(port->input(), std::nullopt);
    QCOMPARE(port->inBufferCount(), 0);
    QCOMPARE(port->deviceName(), QString());

    // The device comes back under the same number.
    pty = std::make_unique<PseudoTerminal>();
    QVERIFY(pty->open(nullptr));
    QVERIFY(test::publish_virtual_port(1, pty->device_path()));
    QCOMPARE(port->setPortOpen(true), std::nullopt);
    Taker taker(*port, 8);
    taker.attach();
    QByteArray received;
    connect(pty.get(), &PseudoTerminal::received, this, [&](const QByteArray& bytes) { received += bytes; });
    QVERIFY(pty->write(counting_bytes(8)));
    QVERIFY(run_until([&] { return taker.rounds >= 1; }, 2000));
    port->setOutput({0x55, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x58});
    QVERIFY(run_until([&] { return received.size() >= 8; }, 2000));
    QCOMPARE(received.toHex(' '), QByteArray("55 01 02 00 00 00 00 58"));
    QCOMPARE(lost.size(), 1);
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (const QByteArray mode = qgetenv(helper_variable); !mode.isEmpty())
        return run_helper(mode);

    // Virtual ports go to a runtime folder of this run only.
    const QTemporaryDir runtime;
    if (!test::use_runtime_dir(runtime))
        return 1;
    TestPortObject test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_port_object.moc"
