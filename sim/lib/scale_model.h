#pragma once

#include <chrono>
#include <cstdint>
#include <random>

namespace pondara::sim {

// The analogue side of the simulated module: a load cell on a 24-bit AD
// converter, the zero point and the calibration.
//
// A raw sample is factory_zero + load x counts_per_unit, plus, with noise on,
// a uniform error of up to noise_counts either way; a reading is the mean of
// `filter_width` samples, rounded and kept within 24 bits. The weight is
// (raw - zero point) x units per count, rounded and clamped to 0..0xFFFFFF.
// Out of the factory the zero point is factory_zero and one count is
// 1 / counts_per_unit, so an uncalibrated module already reads the load.
class ScaleModel {
public:
    static constexpr std::uint32_t factory_zero = 0x080000;
    static constexpr double counts_per_unit = 8.0;
    static constexpr int noise_counts = 6;
    static constexpr int min_filter_width = 1;
    static constexpr int max_filter_width = 20;
    // The drifting demo load swings this far around the set load (at least
    // drift_min_amplitude) with this period.
    static constexpr double drift_fraction = 0.05;
    static constexpr double drift_min_amplitude = 20.0;
    static constexpr std::chrono::milliseconds drift_period {20'000};

    explicit ScaleModel(std::uint32_t seed = 1);

    void set_load(double load) { m_load = load; }
    double load() const { return m_load; }
    // The load now on the cell: the set load, moved by the drift when on.
    double present_load() const;

    void set_drift(bool on) { m_drift = on; }
    bool drift() const { return m_drift; }
    // Moves the drift clock on.
    void step(std::chrono::milliseconds elapsed) { m_clock += elapsed; }

    void set_noise(bool on) { m_noise = on; }
    bool noise() const { return m_noise; }
    void set_seed(std::uint32_t seed) { m_rng.seed(seed); }

    // Clamped to min_filter_width..max_filter_width.
    void set_filter_width(int width);
    int filter_width() const { return m_filter_width; }

    // One filtered AD reading.
    std::uint32_t read_raw();
    // The weight of one fresh reading.
    std::uint32_t read_weight();
    // Takes a fresh reading as the new zero point and returns it.
    std::uint32_t take_zero();
    // Scales so that the present reading weighs `weight`. Refused (false,
    // nothing changes) when the reading is not above the zero point or the
    // weight is 0.
    bool calibrate(std::uint32_t weight);

    std::uint32_t zero_point() const { return m_zero; }
    double units_per_count() const { return m_units_per_count; }

private:
    double noise_sample();
    std::uint32_t weight_of(std::uint32_t raw) const;

    std::mt19937 m_rng;
    double m_load = 0.0;
    bool m_drift = false;
    bool m_noise = true;
    int m_filter_width = 8;
    std::chrono::milliseconds m_clock {0};
    std::uint32_t m_zero = factory_zero;
    double m_units_per_count = 1.0 / counts_per_unit;
};

}  // namespace pondara::sim
