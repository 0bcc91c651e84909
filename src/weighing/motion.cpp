#include "weighing/motion.h"

#include <algorithm>
#include <vector>

namespace pondara {

MotionReading judge_motion(const MotionRule& rule, std::span<const TimedValue> run, std::int64_t now_ms, bool link_ok)
{
    const auto known_end
        = std::find_if(run.begin(), run.end(), [now_ms](const TimedValue& v) { return v.time_ms > now_ms; });
    const std::span<const TimedValue> known(run.begin(), known_end);
    MotionReading reading;
    if (known.empty())
        return reading;
    const TimedValue& newest = known.back();
    reading.latest = newest.value;
    const std::int64_t window_start = newest.time_ms - rule.time_ms;
    reading.minimum = newest.value;
    reading.maximum = newest.value;
    for (auto it = known.rbegin(); it != known.rend() && it->time_ms > window_start; ++it) {
        ++reading.count;
        reading.minimum = std::min(reading.minimum, it->value);
        reading.maximum = std::max(reading.maximum, it->value);
    }
    const bool fresh = now_ms - newest.time_ms < MotionRule::stale_ms;
    if (!link_ok || !fresh || reading.count < MotionRule::count)
        return reading;
    reading.motion = reading.maximum - reading.minimum <= rule.band ? Motion::stable : Motion::moving;
    return reading;
}

void MotionWatch::add(std::int64_t time_ms, std::uint32_t value)
{
    m_values.push_back({time_ms, value});
    const std::int64_t keep_from = time_ms - m_rule.time_ms;
    while (m_values.front().time_ms <= keep_from)
        m_values.pop_front();
}

MotionReading MotionWatch::reading(std::int64_t now_ms, bool link_ok) const
{
    const std::vector<TimedValue> run(m_values.begin(), m_values.end());
    return judge_motion(m_rule, run, now_ms, link_ok);
}

}  // namespace pondara
