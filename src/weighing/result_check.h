#pragma once

#include "weighing/motion.h"

#include <cstdint>
#include <optional>

namespace pondara {

// The proof that a zero or a calibration took: after the module's
// acknowledgement the weight must settle, within `watch_ms`, on the target
// (0, or the weight entered) within the tolerance.
struct WeighingCheck {
    enum class Kind : std::uint8_t { zero, calibration };
    enum class Result : std::uint8_t {
        confirmed,  // a stable value on the target came in time
        off_target,  // none came within watch_ms
        abandoned,  // the port closed, or another zero or calibration began
    };
    static constexpr std::int64_t watch_ms = 2000;

    Kind kind = Kind::zero;
    Result result = Result::abandoned;
    std::uint32_t target = 0;  // 0, or the weight entered
    double tolerance = 0;  // the largest difference from the target accepted
    // The newest weight value when the operator asked, and when the check
    // ended (the value judged); none when no value was known.
    std::optional<std::uint32_t> weight_before;
    std::optional<std::uint32_t> weight_after;
    Motion at_click = Motion::unknown;  // when the command was queued
    Motion when_sent = Motion::unknown;  // when the request went on the line
    // Steady clock, ms; 0 for a step that did not happen (an acknowledgement
    // without a request of this window, say).
    std::int64_t clicked_ms = 0;
    std::int64_t sent_ms = 0;
    std::int64_t acknowledged_ms = 0;
    std::int64_t finished_ms = 0;

    bool moving_when_sent() const { return when_sent == Motion::moving; }
};

// max(band, 0.1 % of the target): for a zero the band itself.
double check_tolerance(std::uint32_t target, std::uint32_t band);

// Whether `reading` is a stable value on `target`.
bool settled_on(const MotionReading& reading, std::uint32_t target, double tolerance);

}  // namespace pondara
