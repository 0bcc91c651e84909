#include "scale_model.h"

#include "protocol/packet.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pondara::sim {

namespace {

std::uint32_t clamp_to_24_bits(double value)
{
    const double rounded = std::round(value);
    if (!(rounded > 0.0))  // also catches NaN
        return 0;
    if (rounded >= static_cast<double>(max_value))
        return max_value;
    return static_cast<std::uint32_t>(rounded);
}

}  // namespace

ScaleModel::ScaleModel(std::uint32_t seed) : m_rng(seed) { }

double ScaleModel::present_load() const
{
    if (!m_drift)
        return m_load;
    const double amplitude = std::max(drift_min_amplitude, drift_fraction * std::abs(m_load));
    const double phase
        = 2.0 * std::numbers::pi * static_cast<double>(m_clock.count()) / static_cast<double>(drift_period.count());
    return m_load + amplitude * std::sin(phase);
}

void ScaleModel::set_filter_width(int width) { m_filter_width = std::clamp(width, min_filter_width, max_filter_width); }

double ScaleModel::noise_sample()
{
    if (!m_noise)
        return 0.0;
    // Modulo keeps the draw the same on every standard library, unlike the
    // distributions.
    const auto span = static_cast<std::uint32_t>(2 * noise_counts + 1);
    return static_cast<double>(static_cast<int>(m_rng() % span) - noise_counts);
}

std::uint32_t ScaleModel::read_raw()
{
    const double clean = factory_zero + present_load() * counts_per_unit;
    double sum = 0.0;
    for (int i = 0; i < m_filter_width; ++i)
        sum += clean + noise_sample();
    return clamp_to_24_bits(sum / m_filter_width);
}

std::uint32_t ScaleModel::weight_of(std::uint32_t raw) const
{
    const double counts = static_cast<double>(raw) - static_cast<double>(m_zero);
    return clamp_to_24_bits(counts * m_units_per_count);
}

std::uint32_t ScaleModel::read_weight() { return weight_of(read_raw()); }

std::uint32_t ScaleModel::take_zero()
{
    m_zero = read_raw();
    return m_zero;
}

bool ScaleModel::calibrate(std::uint32_t weight)
{
    const std::uint32_t raw = read_raw();
    if (weight == 0 || raw <= m_zero)
        return false;
    m_units_per_count = static_cast<double>(weight) / static_cast<double>(raw - m_zero);
    return true;
}

}  // namespace pondara::sim
