// The stability rule on (time, value) sequences with the verdict worked out
// by hand, and the tolerance of the checks after a zero or a calibration.

#include "weighing/motion.h"
#include "weighing/result_check.h"

#include <QTest>

using namespace pondara;

namespace {

// (ms, value) pairs in order; a value of -1 is a gap: the link failed there.
using Timed = QList<QPair<int, int>>;

MotionWatch watch_of(const Timed& samples, std::uint32_t band, int time_ms)
{
    MotionWatch watch({band, time_ms});
    for (const auto& [ms, value] : samples) {
        if (value < 0)
            watch.break_run();
        else
            watch.add(ms, static_cast<std::uint32_t>(value));
    }
    return watch;
}

const int unknown = int(Motion::unknown);
const int stable = int(Motion::stable);
const int moving = int(Motion::moving);

}  // namespace

class TestMotion : public QObject {
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
    void settling_after_a_step_data();
    void settling_after_a_step();
    void tolerance_data();
    void tolerance();
};

void TestMotion::verdict_data()
{
    QTest::addColumn<Timed>("samples");
    QTest::addColumn<int>("band");
    QTest::addColumn<int>("time_ms");
    QTest::addColumn<int>("now");
    QTest::addColumn<bool>("link_ok");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");

    // A weight value every 400 ms, as the main window polls.
    const Timed still {{0, 100}, {400, 101}, {800, 100}};
    QTest::newRow("nothing") << Timed {} << 1 << 1000 << 5000 << true << unknown << 0 << 0 << 0;
    QTest::newRow("N-1 values") << Timed {{0, 100}, {400, 100}} << 1 << 1000 << 400 << true << unknown << 2 << 100
                                << 100;
    QTest::newRow("N values within one count") << still << 1 << 1000 << 800 << true << stable << 3 << 100 << 101;
    QTest::newRow("judged between two values (at an AD tick)")
        << still << 1 << 1000 << 1000 << true << stable << 3 << 100 << 101;
    QTest::newRow("a time gap inside the window")
        << Timed {{0, 100}, {400, 100}, {1300, 100}} << 1 << 1000 << 1300 << true << unknown << 2 << 100 << 100;
    QTest::newRow("a link gap inside the window") << Timed {{0, 100}, {400, 100}, {600, -1}, {800, 100}} << 1 << 1000
                                                  << 800 << true << unknown << 1 << 100 << 100;
    QTest::newRow("older than T ignored") << Timed {{0, 90}, {400, 100}, {800, 100}, {1200, 101}} << 1 << 1000 << 1200
                                          << true << stable << 3 << 100 << 101;
    QTest::newRow("exactly T before the newest ignored") << Timed {{0, 90}, {200, 100}, {600, 100}, {1000, 100}} << 1
                                                         << 1000 << 1000 << true << stable << 3 << 100 << 100;
    QTest::newRow("band exactly B (3)") << Timed {{0, 100}, {400, 103}, {800, 101}} << 3 << 1000 << 800 << true
                                        << stable << 3 << 100 << 103;
    QTest::newRow("band B+1 (4, B 3)") << Timed {{0, 100}, {400, 104}, {800, 101}} << 3 << 1000 << 800 << true << moving
                                       << 3 << 100 << 104;
    QTest::newRow("band 0: any change moves")
        << Timed {{0, 100}, {400, 101}, {800, 100}} << 0 << 1000 << 800 << true << moving << 3 << 100 << 101;
    // 2 counts/s sampled every 400 ms: 100, 100.8, 101.6, 102.4, 103.2, 104
    // as the module rounds them.
    QTest::newRow("ramp of 2 counts/s") << Timed {{0, 100},    {400, 101},  {800, 102},
                                                  {1200, 102}, {1600, 103}, {2000, 104}}
                                        << 1 << 1000 << 2000 << true << moving << 3 << 102 << 104;
    QTest::newRow("noise of 3 counts p-p, every 200 ms")
        << Timed {{0, 100}, {200, 103}, {400, 101}, {600, 102}, {800, 100}, {1000, 103}} << 1 << 1000 << 1000 << true
        << moving << 5 << 100 << 103;
    QTest::newRow("noise of 3 counts p-p within band 3")
        << Timed {{0, 100}, {200, 103}, {400, 101}, {600, 102}, {800, 100}, {1000, 103}} << 3 << 1000 << 1000 << true
        << stable << 5 << 100 << 103;
    QTest::newRow("fresh just short of a second") << still << 1 << 1000 << 1799 << true << stable << 3 << 100 << 101;
    QTest::newRow("stale a second after the newest value")
        << still << 1 << 1000 << 1800 << true << unknown << 3 << 100 << 101;
    QTest::newRow("link not 通信正常") << still << 1 << 1000 << 800 << false << unknown << 3 << 100 << 101;
    QTest::newRow("T 0.4 s holds one value of 400 ms polling")
        << still << 1 << 400 << 800 << true << unknown << 1 << 100 << 100;
    QTest::newRow("T 10 s") << Timed {{0, 100}, {4000, 101}, {9600, 101}, {10000, 100}} << 1 << 10000 << 10000 << true
                            << stable << 3 << 100 << 101;
}

void TestMotion::verdict()
{
    QFETCH(Timed, samples);
    QFETCH(int, band);
    QFETCH(int, time_ms);
    QFETCH(int, now);
    QFETCH(bool, link_ok);
    QFETCH(int, expected);
    QFETCH(int, count);
    QFETCH(int, minimum);
    QFETCH(int, maximum);

    const MotionReading reading = watch_of(samples, std::uint32_t(band), time_ms).reading(now, link_ok);
    QCOMPARE(int(reading.motion), expected);
    QCOMPARE(int(reading.count), count);
    if (count > 0) {
        QCOMPARE(int(reading.minimum), minimum);
        QCOMPARE(int(reading.maximum), maximum);
    }
}

void TestMotion::settling_after_a_step_data()
{
    // Still at 0, a load put on at 1000 ms, a value every 400 ms. The time
    // from the step to the first 稳定 is worked out by hand; the rule
    // promises no more than T + 0.8 s.
    QTest::addColumn<Timed>("samples");
    QTest::addColumn<int>("stable_after");  // ms after the step at 1000

    QTest::newRow("instant step: three values of 500")
        << Timed {{0, 0}, {400, 0}, {800, 0}, {1200, 500}, {1600, 500}, {2000, 500}, {2400, 500}} << 1000;
    QTest::newRow("a swinging load settles: 480 498 500 501 500")
        << Timed {{0, 0}, {400, 0}, {800, 0}, {1200, 480}, {1600, 498}, {2000, 500}, {2400, 501}, {2800, 500}} << 1800;
}

void TestMotion::settling_after_a_step()
{
    QFETCH(Timed, samples);
    QFETCH(int, stable_after);

    MotionWatch watch;
    int first_stable = -1;
    for (const auto& [ms, value] : samples) {
        watch.add(ms, static_cast<std::uint32_t>(value));
        const Motion motion = watch.reading(ms, true).motion;
        if (ms > 1000 && first_stable < 0 && motion == Motion::stable)
            first_stable = ms;
        if (ms > 1000 && first_stable < 0)
            QCOMPARE(int(motion), moving);  // never "稳定" on the way
    }
    QCOMPARE(first_stable - 1000, stable_after);
    QVERIFY(first_stable - 1000 <= 1000 + 800);
}

void TestMotion::tolerance_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("band");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("settled");

    QTest::newRow("zero: 1 within band 1") << 0 << 1 << 1 << true;
    QTest::newRow("zero: 2 beyond band 1") << 0 << 1 << 2 << false;
    QTest::newRow("zero: band 0 wants 0") << 0 << 0 << 1 << false;
    QTest::newRow("100: band 1 wider than 0.1 %") << 100 << 1 << 101 << true;
    QTest::newRow("100: 2 off") << 100 << 1 << 98 << false;
    QTest::newRow("10000: 0.1 % is 10") << 10000 << 1 << 10010 << true;
    QTest::newRow("10000: 11 off") << 10000 << 1 << 9989 << false;
}

void TestMotion::tolerance()
{
    QFETCH(int, target);
    QFETCH(int, band);
    QFETCH(int, value);
    QFETCH(bool, settled);

    MotionReading reading;
    reading.motion = Motion::stable;
    reading.latest = std::uint32_t(value);
    const double tolerance = check_tolerance(std::uint32_t(target), std::uint32_t(band));
    QCOMPARE(settled_on(reading, std::uint32_t(target), tolerance), settled);
    reading.motion = Motion::moving;
    QVERIFY(!settled_on(reading, std::uint32_t(target), tolerance));
}

QTEST_APPLESS_MAIN(TestMotion)
#include "tst_motion.moc"
