// The link's health from sequences of exchanges, written as steps:
// o opened, x closed, r a request (R: a request that flushes 3 unread bytes),
// u the request just made did not go out, a an accepted reply, h / c / s a
// reply dropped for its header, its checksum, or for being short.

#include "serial/link_health.h"

#include <QTest>

using pondara::LinkHealth;
using State = LinkHealth::State;

Q_DECLARE_METATYPE(LinkHealth::State)

namespace {

LinkHealth run(const QByteArray& steps)
{
    LinkHealth link;
    std::int64_t clock = 1000;
    for (const char step : steps) {
        switch (step) {
        case 'o':
            link.opened();
            break;
        case 'x':
            link.closed();
            break;
        case 'r':
            link.request_sent(0);
            break;
        case 'R':
            link.request_sent(3);
            break;
        case 'u':
            link.request_unsent();
            break;
        case 'a':
            link.reply_accepted(clock += 200);
            break;
        case 'h':
            link.reply_dropped(LinkHealth::Drop::header);
            break;
        case 'c':
            link.reply_dropped(LinkHealth::Drop::checksum);
            break;
        case 's':
            link.reply_dropped(LinkHealth::Drop::short_reply);
            break;
        default:
            qFatal("unknown step %c", step);
        }
    }
    return link;
}

// requests, accepted, header, checksum, short, no reply, unsent
QString describe(const LinkHealth::Counters& c)
{
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
        .arg(c.requests)
        .arg(c.accepted)
        .arg(c.bad_header)
        .arg(c.bad_checksum)
        .arg(c.too_short)
        .arg(c.no_reply)
        .arg(c.unsent);
}

}  // namespace

class TestLinkHealth : public QObject {
    Q_OBJECT

private slots:
    void state_and_counters_data();
    void state_and_counters();
    void last_accepted_time();
    void current_exchange();
};

void TestLinkHealth::state_and_counters_data()
{
    QTest::addColumn<QByteArray>("steps");
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("counters");

    QTest::newRow("never opened") << QByteArray("") << State::closed << "0 0 0 0 0 0 0";
    QTest::newRow("opened, nothing judged yet") << QByteArray("orrr") << State::pending << "3 0 0 0 0 2 0";
    QTest::newRow("every request answered") << QByteArray("oraraRa") << State::ok << "3 3 0 0 0 0 0";
    QTest::newRow("first reply flips pending at once") << QByteArray("ora") << State::ok << "1 1 0 0 0 0 0";
    QTest::newRow("three silent requests") << QByteArray("orrrr") << State::no_reply << "4 0 0 0 0 3 0";
    QTest::newRow("one lost reply does not flip ok") << QByteArray("orarrara") << State::ok << "4 3 0 0 0 1 0";
    QTest::newRow("two lost replies do not flip ok") << QByteArray("orarrr") << State::ok << "4 1 0 0 0 2 0";
    QTest::newRow("three lost replies flip ok") << QByteArray("orarrrr") << State::no_reply << "5 1 0 0 0 3 0";
    QTest::newRow("answer after silence flips back at once") << QByteArray("orrrra") << State::ok << "4 1 0 0 0 3 0";
    QTest::newRow("bad checksums") << QByteArray("orcrcrcr") << State::bad_data << "4 0 0 3 0 0 0";
    QTest::newRow("bad headers") << QByteArray("orhrhrhr") << State::bad_data << "4 0 3 0 0 0 0";
    QTest::newRow("short replies flushed by the next write")
        << QByteArray("orRRR") << State::bad_data << "4 0 0 0 3 0 0";
    QTest::newRow("short reply on a receive event") << QByteArray("orsrrr") << State::bad_data << "4 0 0 0 1 2 0";
    QTest::newRow("noise after an accepted reply is no short reply")
        << QByteArray("oraR") << State::ok << "2 1 0 0 0 0 0";
    QTest::newRow("a checksum then the rest flushed counts once")
        << QByteArray("orcR") << State::pending << "2 0 0 1 0 0 0";
    QTest::newRow("closed") << QByteArray("oraraRax") << State::closed << "3 3 0 0 0 0 0";
    QTest::newRow("requests while closed are not counted") << QByteArray("oraxrr") << State::closed << "1 1 0 0 0 0 0";
    QTest::newRow("unsent requests are counted and get no reply")
        << QByteArray("orururu") << State::pending << "3 0 0 0 0 2 3";
    QTest::newRow("three unsent requests flip ok") << QByteArray("orarururur") << State::no_reply << "5 1 0 0 0 3 3";
    QTest::newRow("unsent while closed are not counted") << QByteArray("orxu") << State::closed << "1 0 0 0 0 0 0";
    QTest::newRow("reopening starts afresh") << QByteArray("orrrrxor") << State::pending << "1 0 0 0 0 0 0";
}

void TestLinkHealth::state_and_counters()
{
    QFETCH(QByteArray, steps);
    QFETCH(State, state);
    QFETCH(QString, counters);

    const LinkHealth link = run(steps);
    QCOMPARE(link.state(), state);
    QCOMPARE(describe(link.counters()), counters);
}

void TestLinkHealth::last_accepted_time()
{
    QVERIFY(!run("orrr").counters().last_accepted_ms);
    QCOMPARE(run("orarar").counters().last_accepted_ms, std::optional<std::int64_t>(1400));
}

void TestLinkHealth::current_exchange()
{
    using Outcome = LinkHealth::Outcome;
    QCOMPARE(run("or").current(0), Outcome::silent);
    QCOMPARE(run("or").current(5), Outcome::garbled);
    QCOMPARE(run("orc").current(0), Outcome::garbled);
    QCOMPARE(run("orca").current(0), Outcome::answered);
    QCOMPARE(run("orar").current(0), Outcome::silent);
}

QTEST_GUILESS_MAIN(TestLinkHealth)
#include "tst_link_health.moc"
