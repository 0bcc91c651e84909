#pragma once

#include "trend_data/trend_history.h"
#include "weighing/motion.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace pondara {

// What a technician reads off a run of values to judge noise and settling.
struct TrendSummary {
    std::size_t count = 0;
    double mean = 0.0;
    // Sample standard deviation (divides by n - 1); none for fewer than two
    // values.
    std::optional<double> deviation;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;

    std::uint32_t peak_to_peak() const { return maximum - minimum; }
};

TrendSummary summarize(std::span<const std::uint32_t> values);

// Noise-free counts: the full scale (16777215) divided by the peak-to-peak
// noise, and their bits (log2). A reading that does not move at all is
// still only resolved to one count, so a peak-to-peak of 0 counts as 1.
double noise_free_counts(std::uint32_t peak_to_peak);
double noise_free_bits(std::uint32_t peak_to_peak);

using TrendSamples = std::deque<TrendHistory::Sample>;

// The first sample later than `time_ms` (samples are in time order).
TrendSamples::const_iterator first_after(const TrendSamples& samples, std::int64_t time_ms);
// The values with from_ms < time <= to_ms, oldest first.
std::vector<std::uint32_t> values_between(const TrendSamples& samples, std::int64_t from_ms, std::int64_t to_ms);
// The last `count` values at or before to_ms, oldest first.
std::vector<std::uint32_t> last_values(const TrendSamples& samples, std::int64_t to_ms, std::size_t count);
// Whether the weight was still at now_ms, by `rule`, judged on the samples
// since the last gap (values before a gap do not count).
MotionReading motion_at(const TrendSamples& samples, const MotionRule& rule, std::int64_t now_ms, bool link_ok);

// A plotted point: seconds before now, and the value.
struct PlotPoint {
    double seconds_ago;
    double value;
    friend bool operator==(const PlotPoint&, const PlotPoint&) = default;
};
using PlotRun = std::vector<PlotPoint>;

// The samples [first, last) as runs of points, a new run after each gap,
// at most `max_runs` of them (the oldest merged). With `bucket_s` > 0 each
// run keeps only the lowest and the highest value of each bucket_s seconds,
// in time order: where there are more values than a plot has pixels, the
// curve looks the same and costs a fraction to draw.
std::vector<PlotRun> plot_runs(TrendSamples::const_iterator first, TrendSamples::const_iterator last,
                               std::int64_t now_ms, double bucket_s, std::size_t max_runs);

}  // namespace pondara
