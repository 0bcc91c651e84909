// Recording against the simulated module on a pseudo-terminal: a session
// with random line faults, silences, zeroing and calibration, row by row
// against what the link counted; the real program killed with SIGKILL while
// it records; a full disk.

#include "main_window/main_form.h"
#include "recording_rows.h"
#include "recording_sink.h"
#include "run_until.h"
#include "serial/port_factory.h"
#include "serial/port_resolver.h"
#include "sim_line.h"
#include "virtual_port_links.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/mount.h>

using namespace pondara;
using pondara::sim::SimLine;

namespace {

constexpr int sim_port = 9;

qsizetype count_kind(const QList<QStringList>& rows, const QStringList& kinds)
{
    return std::count_if(rows.begin(), rows.end(), [&](const QStringList& row) { return kinds.contains(row[2]); });
}

QString only_file(const QString& folder)
{
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files);
    return names.size() == 1 ? QDir(folder).filePath(names.first()) : QString();
}

}  // namespace

class TestRecordingLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void faulty_session();
    void killed_while_recording();
    void full_disk();

private:
    void start_form();

    QTemporaryDir m_runtime;
    QTemporaryDir m_records;
    std::unique_ptr<SimLine> m_line;
    test::RecordingSink m_sink;
    std::unique_ptr<MainForm> m_form;
    qsizetype m_wire = 0;  // bytes the program wrote
};

void TestRecordingLine::initTestCase() { QVERIFY(test::use_runtime_dir(m_runtime)); }

void TestRecordingLine::init()
{
    m_line = std::make_unique<SimLine>(sim_port);
    m_line->module().set_load(1000);
    m_line->set_seed(20);
    QString error;
    QVERIFY2(m_line->start(&error), qPrintable(error));
    m_wire = 0;
    connect(m_line.get(), &SimLine::bytes_received, this, [this](const QByteArray& bytes) { m_wire += bytes.size(); });
    m_sink.clear();
}

void TestRecordingLine::cleanup()
{
    m_form.reset();
    m_line.reset();
}

// The main window on the module's port, polling on its own timer.
void TestRecordingLine::start_form()
{
    m_form = std::make_unique<MainForm>(make_port_factory(), m_sink, [] { return PortResolver().mapping(); });
    m_form->findChild<QLineEdit*>("chuankou_num")->setText(QString::number(sim_port));
    m_form->show();
}

void TestRecordingLine::faulty_session()
{
    start_form();
    QTemporaryDir folder;
    QVERIFY(m_form->start_recording(folder.path()));
    QCOMPARE(m_form->findChild<QLabel*>("record_state")->accessibleName(), QStringLiteral("● 记录中"));
    m_form->open_comm_Click();
    m_line->set_fault_rate(0.05);

    // Whenever the link leaves 通信正常, as the link itself tells it.
    int silences = 0;
    LinkHealth::State last = LinkHealth::State::closed;
    connect(&m_form->link(), &ModuleLink::module_event, this, [&](const ModuleEvent& event) {
        if (last == LinkHealth::State::ok && event.link != LinkHealth::State::ok
            && event.link != LinkHealth::State::closed)
            ++silences;
        last = event.link;
    });
    // A command on a clean line, so that its answer comes for sure.
    const auto command = [&](const Command& sent) {
        m_line->set_fault_rate(0);
        test::run_for(500);
        m_form->SET_BUFF(sent);
        test::run_for(500);
        m_line->set_fault_rate(0.05);
    };
    const auto silence = [&] {
        m_line->set_fault(sim::Fault::noreply);
        test::run_for(1500);
        m_line->set_fault(sim::Fault::none);
    };
    test::run_for(3000);
    command(make_command(Leixing::zero));
    test::run_for(2000);
    silence();
    test::run_for(3000);
    command(make_command(Leixing::calibrate, 1000));
    test::run_for(2000);
    silence();
    test::run_for(3000);
    command(make_command(Leixing::zero));
    test::run_for(2500);  // the last check's end, at most 2 s after the answer

    const std::uint64_t accepted = m_form->link().health().counters().accepted;
    const QString path = only_file(folder.path());
    m_form->stop_recording();
    QCOMPARE(m_form->findChild<QLabel*>("record_state")->accessibleName(), QString());

    const QList<QStringList> rows = test::recording_rows(path);
    QVERIFY2(!rows.isEmpty(), qPrintable(path + " is not whole lines of nine fields"));
    const qsizetype values = count_kind(rows, {"ad", "weight"});
    const qsizetype answers = count_kind(rows, {"answer"});
    QVERIFY2(values > 50, qPrintable(QString::number(values)));
    QCOMPARE(std::uint64_t(values + answers), accepted);
    QVERIFY(count_kind(rows, {"dropped"}) > 0);
    QVERIFY(silences >= 2);
    QCOMPARE(count_kind(rows, {"gap"}), qsizetype(silences));

    // Each command, then its answer, with nothing but dropped replies between,
    // and the check of its result before the next command.
    QStringList commands;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows[i][2] != QLatin1String("command"))
            continue;
        qsizetype j = i + 1;
        while (j < rows.size() && rows[j][2] == QLatin1String("dropped"))
            ++j;
        QVERIFY(j < rows.size());
        commands << rows[i][8].section(QLatin1Char(':'), 0, 0) + QStringLiteral(" → ") + rows[j][8];
        qsizetype k = j + 1;
        while (k < rows.size() && rows[k][2] != QLatin1String("command") && rows[k][2] != QLatin1String("check"))
            ++k;
        QVERIFY2(k < rows.size() && rows[k][2] == QLatin1String("check"), qPrintable(commands.last()));
        QVERIFY2(rows[k][8].startsWith(rows[i][8].section(QLatin1Char(':'), 0, 0) + QLatin1Char(' ')),
                 qPrintable(rows[k][8]));
    }
    QCOMPARE(commands, (QStringList {QStringLiteral("置零 → 零点设置成功"), QStringLiteral("标定 1000 → 标定成功"),
                                     QStringLiteral("置零 → 零点设置成功")}));
}

void TestRecordingLine::killed_while_recording()
{
    // The real program, on port 1 of this test's runtime folder.
    m_line.reset();
    SimLine line(1);
    QString error;
    QVERIFY2(line.start(&error), qPrintable(error));
    quint64 replies_at_kill = 0;

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(PONDARA_BINARY), {QStringLiteral("--record"), m_records.filePath("bench")});
    QVERIFY(program.waitForStarted());
    const auto stop_left_over = qScopeGuard([&] {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(10'000);
        }
    });
    QVERIFY(test::run_until([&] { return line.counters().replies >= 20; }, 20'000));
    replies_at_kill = line.counters().replies;
    QCOMPARE(::kill(static_cast<pid_t>(program.processId()), SIGKILL), 0);
    QVERIFY(program.waitForFinished(10'000));
    QCOMPARE(program.exitStatus(), QProcess::CrashExit);

    const QList<QStringList> rows = test::recording_rows(only_file(m_records.filePath("bench")));
    QVERIFY2(!rows.isEmpty(), "the file is not whole lines of nine fields");
    QCOMPARE(rows[0][2], QStringLiteral("note"));
    QCOMPARE(rows[1][2], QStringLiteral("open"));
    // At most the last second of values (five) is lost, and the reply on
    // its way at the kill.
    const qsizetype values = count_kind(rows, {"ad", "weight"});
    QVERIFY2(values + 6 >= qsizetype(replies_at_kill),
             qPrintable(QStringLiteral("%1 value rows of %2 replies").arg(values).arg(replies_at_kill)));
}

void TestRecordingLine::full_disk()
{
    QTemporaryDir disk;
    const QByteArray where = QFile::encodeName(disk.path());
    if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs (%1): run as root").arg(qt_error_string(errno))));
    const auto unmount = qScopeGuard([&] { ::umount2(where.constData(), MNT_DETACH); });
    // Filled up but for a page: some 60 rows.
    QFile filler(disk.filePath("filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly));
    filler.write(QByteArray(60 * 1024, 'x'));
    filler.close();

    start_form();
    QVERIFY(m_form->start_recording(disk.filePath("records")));
    m_form->open_comm_Click();
    QVERIFY(test::run_until([&] { return !m_sink.messages().isEmpty(); }, 120'000));
    const QString path = only_file(disk.filePath("records"));
    QCOMPARE(m_sink.texts(),
             QStringList {QStringLiteral("记录已停止：无法写入 %1：No space left on device").arg(path)});
    QCOMPARE(m_form->findChild<QLabel*>("record_state")->accessibleName(), QString());
    QVERIFY(!test::recording_rows(path).isEmpty());

    // Polling goes on, and the message is not repeated.
    const qsizetype wire = m_wire;
    const QString ad = m_form->findChild<QLineEdit*>("AD_now")->text();
    m_line->module().set_load(2000);
    test::run_for(1500);
    QVERIFY(m_wire >= wire + 5 * 8);
    QVERIFY(m_form->findChild<QLineEdit*>("AD_now")->text() != ad);
    QCOMPARE(m_sink.messages().size(), 1);
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestRecordingLine test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recording_line.moc"
