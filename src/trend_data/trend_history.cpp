#include "trend_data/trend_history.h"

namespace pondara {

void TrendHistory::add(Channel channel, std::int64_t time_ms, std::uint32_t value)
{
    Part& p = part(channel);
    p.samples.push_back({time_ms, value, p.gap_pending});
    p.gap_pending = false;
    while (p.samples.front().time_ms < time_ms - keep_ms)
        p.samples.pop_front();
    ++m_revision;
}

void TrendHistory::mark_gap()
{
    m_ad.gap_pending = true;
    m_weight.gap_pending = true;
}

void TrendHistory::clear()
{
    m_ad = {};
    m_weight = {};
    ++m_revision;
}

}  // namespace pondara
