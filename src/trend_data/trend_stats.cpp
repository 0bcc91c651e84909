#include "trend_data/trend_stats.h"

#include "protocol/packet.h"

#include <algorithm>
#include <cmath>

namespace pondara {

TrendSummary summarize(std::span<const std::uint32_t> values)
{
    TrendSummary summary;
    summary.count = values.size();
    if (values.empty())
        return summary;
    const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
    summary.minimum = *lowest;
    summary.maximum = *highest;
    // Two passes: the squares of 24-bit values summed over an hour would
    // lose digits in a double.
    double sum = 0.0;
    for (const std::uint32_t v : values)
        sum += v;
    summary.mean = sum / static_cast<double>(values.size());
    if (values.size() >= 2) {
        double squares = 0.0;
        for (const std::uint32_t v : values)
            squares += (v - summary.mean) * (v - summary.mean);
        summary.deviation = std::sqrt(squares / static_cast<double>(values.size() - 1));
    }
    return summary;
}

double noise_free_counts(std::uint32_t peak_to_peak)
{
    return static_cast<double>(max_value) / std::max<std::uint32_t>(peak_to_peak, 1);
}

double noise_free_bits(std::uint32_t peak_to_peak) { return std::log2(noise_free_counts(peak_to_peak)); }

namespace {

std::vector<std::uint32_t> values_of(TrendSamples::const_iterator first, TrendSamples::const_iterator last)
{
    std::vector<std::uint32_t> values;
    values.reserve(static_cast<std::size_t>(last - first));
    for (auto it = first; it != last; ++it)
        values.push_back(it->value);
    return values;
}

}  // namespace

TrendSamples::const_iterator first_after(const TrendSamples& samples, std::int64_t time_ms)
{
    return std::partition_point(samples.begin(), samples.end(),
                                [time_ms](const TrendHistory::Sample& s) { return s.time_ms <= time_ms; });
}

std::vector<std::uint32_t> values_between(const TrendSamples& samples, std::int64_t from_ms, std::int64_t to_ms)
{
    return values_of(first_after(samples, from_ms), first_after(samples, to_ms));
}

std::vector<std::uint32_t> last_values(const TrendSamples& samples, std::int64_t to_ms, std::size_t count)
{
    const auto end = first_after(samples, to_ms);
    const auto available = static_cast<std::size_t>(end - samples.begin());
    return values_of(end - static_cast<std::ptrdiff_t>(std::min(count, available)), end);
}

namespace {

// Collects one run's lowest and highest point of each bucket.
class BucketThinner {
public:
    explicit BucketThinner(double bucket_s) : m_bucket_s(bucket_s) { }

    void add(PlotRun& run, const PlotPoint& point)
    {
        const auto bucket = static_cast<long>(std::floor(point.seconds_ago / m_bucket_s));
        if (bucket != m_bucket)
            flush(run);
        m_bucket = bucket;
        if (!m_low || point.value < m_low->value)
            m_low = point;
        if (!m_high || point.value > m_high->value)
            m_high = point;
    }

    // The bucket's two points, the older (more seconds ago) first.
    void flush(PlotRun& run)
    {
        if (!m_low)
            return;
        const bool low_older = m_low->seconds_ago > m_high->seconds_ago;
        run.push_back(low_older ? *m_low : *m_high);
        if (!(*m_low == *m_high))
            run.push_back(low_older ? *m_high : *m_low);
        m_low.reset();
        m_high.reset();
        m_bucket = -1;
    }

private:
    double m_bucket_s;
    long m_bucket = -1;
    std::optional<PlotPoint> m_low;
    std::optional<PlotPoint> m_high;
};

}  // namespace

std::vector<PlotRun> plot_runs(TrendSamples::const_iterator first, TrendSamples::const_iterator last,
                               std::int64_t now_ms, double bucket_s, std::size_t max_runs)
{
    std::vector<PlotRun> runs;
    BucketThinner thinner(bucket_s);
    for (auto it = first; it != last; ++it) {
        const PlotPoint point {static_cast<double>(now_ms - it->time_ms) / 1000.0, static_cast<double>(it->value)};
        if (runs.empty() || it->starts_run) {
            if (!runs.empty())
                thinner.flush(runs.back());
            runs.emplace_back();
        }
        if (bucket_s > 0)
            thinner.add(runs.back(), point);
        else
            runs.back().push_back(point);
    }
    if (!runs.empty())
        thinner.flush(runs.back());
    while (max_runs > 0 && runs.size() > max_runs) {
        runs[1].insert(runs[1].begin(), runs[0].begin(), runs[0].end());
        runs.erase(runs.begin());
    }
    return runs;
}

MotionReading motion_at(const TrendSamples& samples, const MotionRule& rule, std::int64_t now_ms, bool link_ok)
{
    // The newest value counts while it is fresh, and the window reaches a
    // rule's time back from it.
    const auto last = first_after(samples, now_ms);
    auto first = first_after(samples, now_ms - MotionRule::stale_ms - rule.time_ms);
    for (auto it = first; it != last; ++it) {
        if (it->starts_run)
            first = it;
    }
    std::vector<TimedValue> run;
    run.reserve(static_cast<std::size_t>(last - first));
    for (auto it = first; it != last; ++it)
        run.push_back({it->time_ms, it->value});
    return judge_motion(rule, run, now_ms, link_ok);
}

}  // namespace pondara
