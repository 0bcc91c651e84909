#include "weighing/result_check.h"

#include <algorithm>
#include <cmath>

namespace pondara {

double check_tolerance(std::uint32_t target, std::uint32_t band)
{
    return std::max(static_cast<double>(band), static_cast<double>(target) / 1000.0);
}

bool settled_on(const MotionReading& reading, std::uint32_t target, double tolerance)
{
    return reading.motion == Motion::stable && reading.latest
           && std::abs(static_cast<double>(*reading.latest) - static_cast<double>(target)) <= tolerance;
}

}  // namespace pondara
