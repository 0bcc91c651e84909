// The trend's history and statistics as plain classes: runs and gaps, the
// one-hour limit, summaries, noise-free counts and the stability mark on the
// history.

#include "trend_data/trend_history.h"
#include "trend_data/trend_stats.h"

#include <QTest>

using namespace pondara;
using Channel = TrendHistory::Channel;

using Timed = QList<QPair<int, int>>;  // (ms, value) pairs, in order

namespace {

QString decimals(double value) { return QString::number(value, 'f', 2); }

// A history of one weight channel.
TrendHistory weights(const Timed& samples)
{
    TrendHistory history;
    for (const auto& [ms, value] : samples)
        history.add(Channel::weight, ms, static_cast<std::uint32_t>(value));
    return history;
}

std::vector<std::uint32_t> values_of(const QList<int>& list) { return {list.begin(), list.end()}; }

}  // namespace

class TestTrendStats : public QObject {
    Q_OBJECT

private slots:
    void summary_data();
    void summary();
    void stability_data();
    void stability();
    void selections_data();
    void selections();
    void gaps_start_runs();
    void plot_thinning_data();
    void plot_thinning();
    void history_keeps_one_hour();
};

void TestTrendStats::summary_data()
{
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("mean");
    QTest::addColumn<QString>("deviation");  // sample (n - 1); "" for none
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("peak_to_peak");
    QTest::addColumn<QString>("noise_free");  // counts, whole
    QTest::addColumn<QString>("bits");

    QTest::newRow("none") << QList<int> {} << 0 << "0.00"
                          << "" << 0 << 0 << 0 << "16777215"
                          << "24.00";
    QTest::newRow("one value") << QList<int> {500} << 1 << "500.00"
                               << "" << 500 << 500 << 0 << "16777215"
                               << "24.00";
    QTest::newRow("all equal") << QList<int> {7, 7, 7, 7} << 4 << "7.00"
                               << "0.00" << 7 << 7 << 0 << "16777215"
                               << "24.00";
    // Deviations +-1 six times: sqrt(6 / 5) = 1.0954.
    QTest::newRow("step of 2") << QList<int> {10, 10, 10, 12, 12, 12} << 6 << "11.00"
                               << "1.10" << 10 << 12 << 2 << "8388608"
                               << "23.00";
    // Squares 2.25 + 0.25 + 0.25 + 2.25 = 5, sqrt(5 / 3) = 1.2910;
    // 16777215 / 3 = 5592405, log2 = 24 - log2 3 = 22.415.
    QTest::newRow("ramp 1..4") << QList<int> {1, 2, 3, 4} << 4 << "2.50"
                               << "1.29" << 1 << 4 << 3 << "5592405"
                               << "22.42";
    // Full scale: 8388607.5 x sqrt 2 = 11863282.496.
    QTest::newRow("0 and full scale") << QList<int> {0, 16777215} << 2 << "8388607.50"
                                      << "11863282.50" << 0 << 16777215 << 16777215 << "1"
                                      << "0.00";
    // Half a count off a large mean: squares 4 x 0.25 = 1, sqrt(1 / 3).
    QTest::newRow("large values keep digits") << QList<int> {8388607, 8388608, 8388607, 8388608} << 4 << "8388607.50"
                                              << "0.58" << 8388607 << 8388608 << 1 << "16777215"
                                              << "24.00";
}

void TestTrendStats::summary()
{
    QFETCH(QList<int>, values);
    QFETCH(int, count);
    QFETCH(QString, mean);
    QFETCH(QString, deviation);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, peak_to_peak);
    QFETCH(QString, noise_free);
    QFETCH(QString, bits);

    const std::vector<std::uint32_t> v = values_of(values);
    const TrendSummary s = summarize(v);
    QCOMPARE(int(s.count), count);
    QCOMPARE(decimals(s.mean), mean);
    QCOMPARE(s.deviation ? decimals(*s.deviation) : QString(), deviation);
    QCOMPARE(int(s.minimum), minimum);
    QCOMPARE(int(s.maximum), maximum);
    QCOMPARE(int(s.peak_to_peak()), peak_to_peak);
    QCOMPARE(QString::number(noise_free_counts(s.peak_to_peak()), 'f', 0), noise_free);
    QCOMPARE(decimals(noise_free_bits(s.peak_to_peak())), bits);
}

void TestTrendStats::stability_data()
{
    // The trend window's mark, judged on its history: the rule itself is
    // tested with the engine; here what the history adds (a value of -1
    // marks a gap) and a paused window's time.
    QTest::addColumn<Timed>("samples");
    QTest::addColumn<int>("now");
    QTest::addColumn<int>("expected");

    const int unknown = int(Motion::unknown);
    const int stable = int(Motion::stable);
    const int moving = int(Motion::moving);
    QTest::newRow("nothing") << Timed {} << 5000 << unknown;
    QTest::newRow("three within one count") << Timed {{4200, 100}, {4600, 101}, {5000, 100}} << 5000 << stable;
    QTest::newRow("a step") << Timed {{4200, 100}, {4600, 100}, {5000, 150}} << 5000 << moving;
    QTest::newRow("values before a gap do not count")
        << Timed {{3800, 100}, {4200, 100}, {4400, -1}, {4600, 100}, {5000, 100}} << 5000 << unknown;
    QTest::newRow("later than now ignored (paused)")
        << Timed {{4200, 100}, {4600, 100}, {5000, 100}, {5400, 200}} << 5000 << stable;
    QTest::newRow("an hour of history, the last second judged")
        << Timed {{0, 7}, {1800000, 9}, {3598200, 100}, {3598600, 101}, {3599000, 100}} << 3599000 << stable;
}

void TestTrendStats::stability()
{
    QFETCH(Timed, samples);
    QFETCH(int, now);
    QFETCH(int, expected);

    TrendHistory history;
    for (const auto& [ms, value] : samples) {
        if (value < 0)
            history.mark_gap();
        else
            history.add(Channel::weight, ms, static_cast<std::uint32_t>(value));
    }
    QCOMPARE(int(motion_at(history.samples(Channel::weight), MotionRule {}, now, true).motion), expected);
}

void TestTrendStats::selections_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QList<int>>("between");
    QTest::addColumn<QList<int>>("last_three");

    // Samples: 1@100, 2@200, ... 6@600.
    QTest::newRow("all") << 0 << 600 << QList<int> {1, 2, 3, 4, 5, 6} << QList<int> {4, 5, 6};
    QTest::newRow("from excluded, to included") << 200 << 500 << QList<int> {3, 4, 5} << QList<int> {3, 4, 5};
    QTest::newRow("fewer than three") << 0 << 250 << QList<int> {1, 2} << QList<int> {1, 2};
    QTest::newRow("before the first") << 0 << 50 << QList<int> {} << QList<int> {};
}

void TestTrendStats::selections()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QList<int>, between);
    QFETCH(QList<int>, last_three);

    const TrendHistory history = weights({{100, 1}, {200, 2}, {300, 3}, {400, 4}, {500, 5}, {600, 6}});
    const TrendSamples& samples = history.samples(Channel::weight);
    QCOMPARE(values_between(samples, from, to), values_of(between));
    QCOMPARE(last_values(samples, to, 3), values_of(last_three));
}

void TestTrendStats::gaps_start_runs()
{
    TrendHistory history;
    history.add(Channel::ad, 0, 1);
    history.add(Channel::ad, 400, 2);
    history.add(Channel::weight, 200, 9);
    history.mark_gap();
    history.mark_gap();
    history.add(Channel::ad, 2000, 3);
    history.add(Channel::ad, 2400, 4);
    history.add(Channel::weight, 2200, 8);
    QList<bool> ad_starts;
    for (const auto& s : history.samples(Channel::ad))
        ad_starts.append(s.starts_run);
    QCOMPARE(ad_starts, (QList<bool> {true, false, true, false}));
    QCOMPARE(history.samples(Channel::weight).back().starts_run, true);

    const auto before = history.revision();
    history.clear();
    QVERIFY(history.revision() != before);
    QVERIFY(history.samples(Channel::ad).empty());
    history.add(Channel::ad, 3000, 5);
    QVERIFY(history.samples(Channel::ad).front().starts_run);
}

void TestTrendStats::history_keeps_one_hour()
{
    TrendHistory history;
    history.add(Channel::ad, 0, 1);
    history.add(Channel::ad, 1000, 2);
    history.add(Channel::weight, 0, 7);
    history.add(Channel::ad, 3'600'000, 3);  // the sample at 0 is exactly an hour old: kept
    QCOMPARE(history.samples(Channel::ad).size(), std::size_t {3});
    history.add(Channel::ad, 3'600'001, 4);
    QCOMPARE(history.samples(Channel::ad).front().value, std::uint32_t {2});
    QCOMPARE(history.samples(Channel::weight).size(), std::size_t {1});  // each channel on its own
}

// Runs drawn from a weight history at now = 10 000 ms, written as
// "seconds_ago:value" points, runs separated by " | ". A gap of `-1` in the
// input starts a new run.
void TestTrendStats::plot_thinning_data()
{
    QTest::addColumn<Timed>("samples");
    QTest::addColumn<double>("bucket_s");
    QTest::addColumn<int>("max_runs");
    QTest::addColumn<QString>("drawn");

    QTest::newRow("every point without thinning")
        << Timed {{7000, 5}, {8000, 6}, {9000, 7}} << 0.0 << 40 << "3:5 2:6 1:7";
    QTest::newRow("a gap starts a run") << Timed {{7000, 5}, {-1, 0}, {9000, 7}} << 0.0 << 40 << "3:5 | 1:7";
    QTest::newRow("a bucket keeps its low and high, older first")
        << Timed {{6100, 4}, {6200, 9}, {6300, 1}, {6400, 5}, {8500, 3}} << 2.0 << 40 << "3.8:9 3.7:1 1.5:3";
    QTest::newRow("a flat bucket keeps one point") << Timed {{6100, 4}, {6200, 4}} << 2.0 << 40 << "3.9:4";
    QTest::newRow("too many runs: the oldest merged")
        << Timed {{5000, 1}, {-1, 0}, {6000, 2}, {-1, 0}, {7000, 3}} << 0.0 << 2 << "5:1 4:2 | 3:3";
}

void TestTrendStats::plot_thinning()
{
    QFETCH(Timed, samples);
    QFETCH(double, bucket_s);
    QFETCH(int, max_runs);
    QFETCH(QString, drawn);

    TrendHistory history;
    for (const auto& [ms, value] : samples) {
        if (ms < 0)
            history.mark_gap();
        else
            history.add(Channel::weight, ms, static_cast<std::uint32_t>(value));
    }
    const TrendSamples& all = history.samples(Channel::weight);
    QStringList runs;
    for (const PlotRun& run : plot_runs(all.begin(), all.end(), 10000, bucket_s, static_cast<std::size_t>(max_runs))) {
        QStringList points;
        for (const PlotPoint& point : run)
            points << QStringLiteral("%1:%2").arg(point.seconds_ago).arg(point.value);
        runs << points.join(QLatin1Char(' '));
    }
    QCOMPARE(runs.join(QStringLiteral(" | ")), drawn);
}

QTEST_MAIN(TestTrendStats)
#include "tst_trend_stats.moc"
