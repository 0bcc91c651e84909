// The rows of a recording written out by hand, in a comma-decimal locale and
// a zone east of UTC; the events of a link as rows; a new file at the size
// limit, never over an existing one; a folder that cannot be written.

#include "record/recorder.h"
#include "serial/port_factory.h"
#include "trend_data/csv_row.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <clocale>
#include <ctime>

using namespace pondara;
using Kind = ModuleEvent::Kind;
using State = LinkHealth::State;

Q_DECLARE_METATYPE(pondara::csv::Row)
Q_DECLARE_METATYPE(pondara::ModuleEvent)

namespace {

// 2026-01-01 00:00:00.123 UTC.
constexpr std::int64_t new_year_ms = 1767225600123;

Packet packet(const char* spaced_hex)
{
    const QByteArray bytes = QByteArray::fromHex(spaced_hex);
    Packet out {};
    for (int k = 0; k < 8 && k < bytes.size(); ++k)
        out[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(bytes[k]);
    return out;
}

ModuleEvent module_event(Kind kind, State link, const char* spaced_hex = "", int byte_count = 8)
{
    ModuleEvent e;
    e.kind = kind;
    e.link = link;
    e.port_number = 3;
    e.device = QStringLiteral("/dev/ttyUSB0");
    e.bytes = packet(spaced_hex);
    e.byte_count = byte_count;
    e.type = e.bytes[2];
    e.value = (std::uint32_t {e.bytes[4]} << 16) | (std::uint32_t {e.bytes[5]} << 8) | e.bytes[6];
    e.command = {e.bytes[2], e.bytes[3], e.bytes[4], e.bytes[5], e.bytes[6]};
    e.wall_ms = QDateTime::currentMSecsSinceEpoch();
    return e;
}

QList<QByteArray> lines_of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// A line without its time and ms, which come from the clocks.
QByteArray tail(const QByteArray& line) { return line.mid(line.indexOf(',', line.indexOf(',') + 1) + 1); }

}  // namespace

class TestRecording : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void csv_line_data();
    void csv_line();
    void trend_export();
    void rows_of_events_data();
    void rows_of_events();
    void new_file_at_size_limit();
    void new_file_at_midnight();
    void folder_not_writable();

private:
    QTemporaryDir m_dir;
};

void TestRecording::initTestCase()
{
    // Numbers in a comma-decimal locale must still be written with points.
    QVERIFY2(std::setlocale(LC_ALL, "de_DE.UTF-8"), "de_DE.UTF-8 missing: run scripts/install-deps");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    qputenv("TZ", "Asia/Shanghai");
    tzset();
}

void TestRecording::csv_line_data()
{
    QTest::addColumn<csv::Row>("row");
    QTest::addColumn<QByteArray>("line");

    const auto row
        = [](const char* kind, std::optional<std::int64_t> value, const char* link, bool stale, const char* detail) {
              return csv::Row {new_year_ms, 1500, QString::fromUtf8(kind),  value, QString::fromUtf8(link), stale,
                               3,           1,    QString::fromUtf8(detail)};
          };
    QTest::newRow("an AD value") << row("ad", 524296, "通信正常", false, "")
                                 << QByteArray("2026-01-01T08:00:00.123+08:00,1500,ad,524296,通信正常,0,3,1,\r\n");
    QTest::newRow("a gap") << row("gap", std::nullopt, "模块无应答", true, "")
                           << QByteArray("2026-01-01T08:00:00.123+08:00,1500,gap,,模块无应答,1,3,1,\r\n");
    QTest::newRow("a calibration with its bytes")
        << row("command", 1000, "通信正常", false, "标定 1000: 55 01 04 00 00 03 E8 45")
        << QByteArray("2026-01-01T08:00:00.123+08:00,1500,command,1000,通信正常,0,3,1,标定 1000: 55 01 04 00 00 03 E8 "
                      "45\r\n");
    QTest::newRow("an answer") << row("answer", 0, "通信正常", false, "零点设置成功")
                               << QByteArray(
                                      "2026-01-01T08:00:00.123+08:00,1500,answer,0,通信正常,0,3,1,零点设置成功\r\n");
    QTest::newRow("a comma is quoted") << row("lost", std::nullopt, "", true, "/dev/ttyUSB0: read error, EIO")
                                       << QByteArray("2026-01-01T08:00:00.123+08:00,1500,lost,,,1,3,1,\"/dev/"
                                                     "ttyUSB0: read error, EIO\"\r\n");
    QTest::newRow("quotes are doubled") << row("note", std::nullopt, "", false, "say \"hi\"")
                                        << QByteArray("2026-01-01T08:00:00.123+08:00,1500,note,,,0,3,1,\"say "
                                                      "\"\"hi\"\"\"\r\n");
    QTest::newRow("a line break is quoted")
        << row("note", std::nullopt, "", false, "a\r\nb")
        << QByteArray("2026-01-01T08:00:00.123+08:00,1500,note,,,0,3,1,\"a\r\nb\"\r\n");
    csv::Row large = row("weight", 16777215, "通信正常", false, "");
    large.ms = 86400000;
    large.wall_ms = new_year_ms + 16 * 3600 * 1000;  // midnight in Shanghai
    QTest::newRow("large numbers have no separators")
        << large << QByteArray("2026-01-02T00:00:00.123+08:00,86400000,weight,16777215,通信正常,0,3,1,\r\n");
}

void TestRecording::csv_line()
{
    QFETCH(csv::Row, row);
    QFETCH(QByteArray, line);
    QByteArray out = "before";
    csv::append_line(out, row);
    QCOMPARE(out, "before" + line);
}

void TestRecording::trend_export()
{
    TrendHistory history;
    history.add(TrendHistory::Channel::ad, 1000, 524296);  // before the span
    history.add(TrendHistory::Channel::weight, 1200, 1000);
    history.mark_gap();
    history.add(TrendHistory::Channel::ad, 2000, 524297);
    history.add(TrendHistory::Channel::weight, 2200, 1001);
    history.add(TrendHistory::Channel::ad, 2400, 524298);  // after it
    // The span (1100, 2200], whose end was new_year_ms + 1100 on the wall.
    QCOMPARE(csv::history_file(history, 1100, 2200, new_year_ms + 1100, QStringLiteral("趋势图导出：1 分钟")),
             QByteArray("\xEF\xBB\xBFtime,ms,kind,value,link,stale,port,address,detail\r\n"
                        "2026-01-01T08:00:00.123+08:00,0,note,,,0,,,趋势图导出：1 分钟\r\n"
                        "2026-01-01T08:00:00.223+08:00,100,weight,1000,,0,,,\r\n"
                        "2026-01-01T08:00:01.023+08:00,900,gap,,,0,,,\r\n"
                        "2026-01-01T08:00:01.023+08:00,900,ad,524297,,0,,,\r\n"
                        "2026-01-01T08:00:01.223+08:00,1100,weight,1001,,0,,,\r\n"));
}

void TestRecording::rows_of_events_data()
{
    QTest::addColumn<QList<ModuleEvent>>("events");
    QTest::addColumn<QList<QByteArray>>("rows");  // after the start note, without time and ms

    const ModuleEvent ad = module_event(Kind::reply_accepted, State::ok, "22 01 01 03 08 00 08 37");
    QTest::newRow("opened, then an AD value")
        << QList {module_event(Kind::opened, State::pending), ad}
        << QList<QByteArray> {"open,,,1,3,1,/dev/ttyUSB0", "ad,524296,通信正常,0,3,1,"};
    QTest::newRow("polls make no row, their replies do")
        << QList {module_event(Kind::request_sent, State::ok, "55 02 02 00 00 00 00 59"),
                  module_event(Kind::reply_accepted, State::ok, "22 02 02 03 00 03 E8 14")}
        << QList<QByteArray> {"weight,1000,通信正常,0,3,2,"};
    QTest::newRow("zeroing and its answer")
        << QList {ad, module_event(Kind::request_sent, State::ok, "55 01 03 00 00 00 00 59"),
                  module_event(Kind::reply_accepted, State::ok, "22 01 03 03 00 00 00 29")}
        << QList<QByteArray> {"ad,524296,通信正常,0,3,1,", "command,,通信正常,0,3,1,置零: 55 01 03 00 00 00 00 59",
                              "answer,0,通信正常,0,3,1,零点设置成功"};
    ModuleEvent unsent = module_event(Kind::request_sent, State::ok, "55 01 03 00 00 00 00 59");
    unsent.unsent = true;
    QTest::newRow("a zero the port did not take")
        << QList {unsent}
        << QList<QByteArray> {"command,,通信正常,1,3,1,置零: 55 01 03 00 00 00 00 59（未发送：上一请求仍在输出）"};
    QTest::newRow("calibration and its answer")
        << QList {module_event(Kind::request_sent, State::ok, "55 01 04 00 00 03 E8 45"),
                  module_event(Kind::reply_accepted, State::ok, "22 01 04 03 00 03 E8 15")}
        << QList<QByteArray> {"command,1000,通信正常,1,3,1,标定 1000: 55 01 04 00 00 03 E8 45",
                              "answer,1000,通信正常,1,3,1,标定成功"};
    QTest::newRow("a parameter written and read")
        << QList {module_event(Kind::request_sent, State::ok, "55 01 07 03 00 00 0A 6A"),
                  module_event(Kind::reply_accepted, State::ok, "22 01 07 03 00 00 0A 37"),
                  module_event(Kind::request_sent, State::ok, "55 01 06 03 00 00 00 5F")}
        << QList<QByteArray> {"command,10,通信正常,1,3,1,设置 写入滤波宽度 10: 55 01 07 03 00 00 0A 6A",
                              "answer,10,通信正常,1,3,1,滤波宽度已写入",
                              "command,,通信正常,1,3,1,设置 读取采样周期: 55 01 06 03 00 00 00 5F"};
    ModuleEvent bad_sum = module_event(Kind::reply_dropped, State::ok, "22 01 01 03 08 00 08 00");
    bad_sum.drop = LinkHealth::Drop::checksum;
    ModuleEvent cut = module_event(Kind::reply_dropped, State::ok, "22 01 01 03 08", 5);
    cut.drop = LinkHealth::Drop::short_reply;
    QTest::newRow("dropped replies say why")
        << QList {bad_sum, cut}
        << QList<QByteArray> {"dropped,,通信正常,1,3,1,校验错误: 22 01 01 03 08 00 08 00",
                              "dropped,,通信正常,1,3,1,不完整: 22 01 01 03 08"};
    QTest::newRow("one gap when the link leaves 通信正常, none while it stays away")
        << QList {ad,
                  module_event(Kind::exchange_silent, State::ok),
                  module_event(Kind::exchange_silent, State::no_reply),
                  module_event(Kind::exchange_silent, State::no_reply),
                  ad,
                  module_event(Kind::reply_dropped, State::bad_data, "", 0)}
        << QList<QByteArray> {"ad,524296,通信正常,0,3,1,", "gap,,模块无应答,0,3,1,", "ad,524296,通信正常,0,3,1,",
                              "dropped,,数据错误,0,3,1,帧头错误: ", "gap,,数据错误,0,3,1,"};
    ModuleEvent lost = module_event(Kind::lost, State::closed);
    lost.loss.detail = QStringLiteral("read error, EIO");
    QTest::newRow("closed and lost") << QList {module_event(Kind::closed, State::closed), lost}
                                     << QList<QByteArray> {"close,,,1,3,1,/dev/ttyUSB0",
                                                           "lost,,,1,3,1,\"/dev/ttyUSB0: read error, EIO\""};
}

void TestRecording::rows_of_events()
{
    QFETCH(QList<ModuleEvent>, events);
    QFETCH(QList<QByteArray>, rows);

    QTemporaryDir dir;
    ModuleLink link(make_port_factory()(), QStringLiteral("test"));
    Recorder recorder;
    recorder.watch(link);
    QVERIFY(recorder.start(dir.path(), 3, 1));
    for (ModuleEvent e : events) {
        e.mono_ms = steady_ms();
        emit link.module_event(e);
    }
    const QString path = recorder.file_path();
    recorder.stop();

    const QList<QByteArray> lines = lines_of(path);
    QCOMPARE(lines.size(), rows.size() + 3);
    QCOMPARE(tail(lines[1]), QByteArray("note,,,0,,,开始记录\r"));
    for (qsizetype i = 0; i < rows.size(); ++i)
        QCOMPARE(tail(lines[i + 2]), rows[i] + '\r');
    QCOMPARE(tail(lines.last()), QByteArray("note,,,0,,,停止记录\r"));
}

void TestRecording::new_file_at_size_limit()
{
    QTemporaryDir dir;
    // Files of this second and the next two are there already and stay.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (int s = 0; s < 3; ++s) {
        QFile file(dir.filePath(now.addSecs(s).toString("'pondara-'yyyyMMdd-HHmmss'-com3-addr7.csv'")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep");
        taken << file.fileName();
    }

    ModuleLink link(make_port_factory()(), QStringLiteral("test"));
    Recorder recorder;
    recorder.watch(link);
    recorder.set_size_limit(400);  // the header, the start note and about three values
    QVERIFY(recorder.start(dir.path(), 3, 7));
    const ModuleEvent ad = module_event(Kind::reply_accepted, State::ok, "22 07 01 03 08 00 08 3D");
    for (int i = 0; i < 20; ++i)
        emit link.module_event(ad);
    recorder.stop();

    for (const QString& path : taken) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep"));
    }
    QStringList made = QDir(dir.path()).entryList({"*.csv"}, QDir::Files, QDir::Name);
    for (const QString& path : taken)
        made.removeOne(QFileInfo(path).fileName());
    QVERIFY2(made.size() >= 5, qPrintable(made.join(' ')));
    int values = 0;
    QString previous;
    for (const QString& name : made) {
        QVERIFY2(name.endsWith(QLatin1String("-com3-addr7-2.csv")) || name.contains(QRegularExpression("-[3-9]\\.csv$"))
                     || name.contains(QRegularExpression("-\\d\\d\\.csv$")),
                 qPrintable(name));
        const QList<QByteArray> lines = lines_of(dir.filePath(name));
        QVERIFY(QFileInfo(dir.filePath(name)).size() <= 400);
        QCOMPARE(lines[0], QByteArray("\xEF\xBB\xBFtime,ms,kind,value,link,stale,port,address,detail\r"));
        if (!previous.isEmpty())
            QCOMPARE(tail(lines[1]), "note,,通信正常,0,3,7,接续 " + previous.toUtf8() + '\r');
        for (const QByteArray& line : lines)
            values += tail(line).startsWith("ad,524296,通信正常,0,3,7,") ? 1 : 0;
        previous = name;
    }
    QCOMPARE(values, 20);
}

void TestRecording::new_file_at_midnight()
{
    QTemporaryDir dir;
    ModuleLink link(make_port_factory()(), QStringLiteral("test"));
    Recorder recorder;
    recorder.watch(link);
    QVERIFY(recorder.start(dir.path(), 3, 1));
    const QString today = QFileInfo(recorder.file_path()).fileName();
    ModuleEvent ad = module_event(Kind::reply_accepted, State::ok, "22 01 01 03 08 00 08 37");
    // Local midnight in Shanghai, 16:00 UTC.
    const QDate tomorrow = QDate::currentDate().addDays(1);
    ad.wall_ms = QDateTime(tomorrow, QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch() - 8 * 3600 * 1000 + 5;
    emit link.module_event(ad);
    const QString path = recorder.file_path();
    recorder.stop();

    QCOMPARE(QFileInfo(path).fileName(), tomorrow.toString("'pondara-'yyyyMMdd'-000000-com3-addr1.csv'"));
    const QList<QByteArray> lines = lines_of(path);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[1].startsWith(tomorrow.toString("yyyy-MM-dd'T00:00:00.005+08:00,'").toLatin1()), lines[1]);
    QCOMPARE(tail(lines[1]), "note,,通信正常,0,3,1,接续 " + today.toUtf8() + '\r');
    QCOMPARE(tail(lines[2]), QByteArray("ad,524296,通信正常,0,3,1,\r"));
    QCOMPARE(tail(lines[3]), QByteArray("note,,,0,,,停止记录\r"));
}

void TestRecording::folder_not_writable()
{
    // Not even root can make a folder under a file. The error in English.
    std::setlocale(LC_MESSAGES, "C");
    const auto german = qScopeGuard([] { std::setlocale(LC_MESSAGES, "de_DE.UTF-8"); });
    QFile file(m_dir.filePath("a_file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    Recorder recorder;
    QSignalSpy failed(&recorder, &Recorder::failed);
    QVERIFY(!recorder.start(m_dir.filePath("a_file/records"), 1, 1));
    QVERIFY(!recorder.recording());
    QCOMPARE(failed.size(), 1);
    const QString text = failed[0][0].toString();
    QVERIFY2(text.startsWith(QStringLiteral("记录已停止：无法写入 ") + m_dir.filePath("a_file/records/pondara-")),
             qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("：Not a directory")), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestRecording)

#include "tst_recording.moc"
