#pragma once

#include "fault.h"
#include "protocol/packet.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <random>

namespace pondara::sim {

// A reply as it goes on the line: `first` at once, `then` after `gap`
// counted from the last byte of `first`, and `held` kept back until the next
// request arrives.
struct ShapedReply {
    QByteArray first;
    QByteArray then;
    std::chrono::milliseconds gap {0};
    QByteArray held;
};

// The sizes and timing of the shaped replies.
namespace shaping {
inline constexpr int split_first = 5;
inline constexpr std::chrono::milliseconds split_gap {20};
inline constexpr int twelve_extra = 4;
inline constexpr int truncated_length = 5;
inline constexpr int late_first = 3;
inline constexpr std::uint8_t wrong_header = 0x23;
inline constexpr int noise_length = 3;
inline constexpr std::chrono::milliseconds noise_gap {50};
}  // namespace shaping

// Shapes `reply` as `fault` asks. Random bytes (stray, extra, noise) come
// from `rng`. Fault::none, Fault::unplug and Fault::fakezero give
// the plain reply.
ShapedReply shape_reply(const Packet& reply, Fault fault, std::mt19937& rng);

}  // namespace pondara::sim
