#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

namespace pondara {

// The motion band of weighing indicators: the weight is still when at least
// `count` fresh values within the last `time_ms` stay within `band` counts
// (max - min <= band). The window ends at the newest value, so that judging
// between two weight values (at an AD tick) does not lose the oldest one.
struct MotionRule {
    static constexpr std::uint32_t max_band = 50;
    static constexpr std::int64_t min_time_ms = 400;
    static constexpr std::int64_t max_time_ms = 10'000;
    static constexpr std::size_t count = 3;
    // A readout whose newest value is this old shows nothing live: the main
    // window greys it after the same second.
    static constexpr std::int64_t stale_ms = 1000;

    std::uint32_t band = 1;
    std::int64_t time_ms = 1000;
};

enum class Motion : std::uint8_t {
    unknown,  // fewer than `count` values, a stale readout or a bad link
    stable,
    moving,
};

struct TimedValue {
    std::int64_t time_ms;
    std::uint32_t value;
};

// The verdict with what it was judged on: the values in the window, their
// extremes and the newest one (none without any value).
struct MotionReading {
    Motion motion = Motion::unknown;
    std::size_t count = 0;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
    std::optional<std::uint32_t> latest;
};

// Judges `run`, the values since the link last failed, oldest first; values
// later than now_ms are not yet known and do not count.
MotionReading judge_motion(const MotionRule& rule, std::span<const TimedValue> run, std::int64_t now_ms, bool link_ok);

// The weight values of one link as they arrive, kept as long as the rule
// can use them.
class MotionWatch {
public:
    explicit MotionWatch(MotionRule rule = {}) : m_rule(rule) { }

    const MotionRule& rule() const { return m_rule; }
    void add(std::int64_t time_ms, std::uint32_t value);
    // The link failed or closed: the values so far no longer count.
    void break_run() { m_values.clear(); }
    MotionReading reading(std::int64_t now_ms, bool link_ok) const;

private:
    MotionRule m_rule;
    std::deque<TimedValue> m_values;
};

}  // namespace pondara
