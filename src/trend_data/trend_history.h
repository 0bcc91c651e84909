#pragma once

#include <cstdint>
#include <deque>

namespace pondara {

// The two readouts' values as they arrive, with the time of arrival, kept
// for one hour per channel. A sample after the port was closed or lost, or
// after the module fell silent, starts a new run, so a plot draws a gap
// there instead of a line across the time nothing was known.
class TrendHistory {
public:
    enum class Channel : std::uint8_t { ad, weight };

    struct Sample {
        std::int64_t time_ms;  // monotonic clock
        std::uint32_t value;
        bool starts_run;  // the first sample after a gap (or ever)
    };

    static constexpr std::int64_t keep_ms = 60 * 60 * 1000;

    // Adds a value; samples more than keep_ms older than it are dropped.
    void add(Channel channel, std::int64_t time_ms, std::uint32_t value);
    // The next sample of each channel starts a new run.
    void mark_gap();
    void clear();

    const std::deque<Sample>& samples(Channel channel) const { return part(channel).samples; }
    // Changes with every add and clear, so a view can skip an unchanged redraw.
    std::uint64_t revision() const { return m_revision; }

private:
    struct Part {
        std::deque<Sample> samples;
        bool gap_pending = true;
    };
    const Part& part(Channel channel) const { return channel == Channel::ad ? m_ad : m_weight; }
    Part& part(Channel channel) { return channel == Channel::ad ? m_ad : m_weight; }

    Part m_ad;
    Part m_weight;
    std::uint64_t m_revision = 0;
};

}  // namespace pondara
