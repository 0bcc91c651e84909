#include "fault_plan.h"

#include <algorithm>
#include <cmath>

namespace pondara::sim {

void FaultPlan::clear()
{
    m_standing = Fault::none;
    m_once.reset();
}

void FaultPlan::set_rate(double probability)
{
    m_rate = std::isnan(probability) ? 0.0 : std::clamp(probability, 0.0, 1.0);
}

Fault FaultPlan::next(std::mt19937& rng)
{
    if (m_once) {
        const Fault fault = *m_once;
        m_once.reset();
        return fault;
    }
    if (m_standing != Fault::none || m_rate <= 0.0)
        return m_standing;
    // 32 random bits as a fraction in [0, 1).
    const double draw = static_cast<double>(rng()) / 4294967296.0;
    if (draw >= m_rate)
        return Fault::none;
    return reply_faults[rng() % reply_faults.size()];
}

}  // namespace pondara::sim
