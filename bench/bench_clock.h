#pragma once

#include <chrono>
#include <cstdint>

namespace pondara::bench {

// The monotonic clock in nanoseconds: steady_clock, which with libstdc++ on
// Linux is CLOCK_MONOTONIC, one clock shared by every process, so times
// taken in two processes can be subtracted.
inline std::int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace pondara::bench
