#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace pondara {

// One frame on the wire, in both directions: exactly 8 bytes.
using Packet = std::array<std::uint8_t, 8>;

// A window's receive buffer: 100 signed 32-bit slots, of which only 0..7 are
// ever written (one reply, each byte as a value 0..255).
using RxBuf = std::array<std::int32_t, 100>;

inline constexpr std::uint8_t request_header = 0x55;
inline constexpr std::uint8_t reply_header = 0x22;
inline constexpr std::uint32_t max_value = 0xFFFFFF;  // largest 24-bit value

// Command types (`leixing`), packet byte 2.
enum class Leixing : std::uint8_t {
    read_ad = 1,
    read_weight = 2,
    zero = 3,
    calibrate = 4,
    write_zhouqi = 5,
    read_zhouqi = 6,
    write_kuandu = 7,
    read_kuandu = 8,
};

// The five bytes that travel together: packet bytes 2..6.
struct Command {
    std::uint8_t leixing = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint8_t data3 = 0;
    std::uint8_t data4 = 0;

    friend bool operator==(const Command&, const Command&) = default;
};

// One row of the command table.
struct CommandInfo {
    Leixing leixing;
    const char* name;
    std::uint8_t data1;  // 0 from the main window, 3 from the parameters dialog
};

inline constexpr std::array<CommandInfo, 8> command_table {{
    {Leixing::read_ad, "read_ad", 0},
    {Leixing::read_weight, "read_weight", 0},
    {Leixing::zero, "zero", 0},
    {Leixing::calibrate, "calibrate", 0},
    {Leixing::write_zhouqi, "write_zhouqi", 3},
    {Leixing::read_zhouqi, "read_zhouqi", 3},
    {Leixing::write_kuandu, "write_kuandu", 3},
    {Leixing::read_kuandu, "read_kuandu", 3},
}};

// The command of type `type` with its table's data1 and `value` as the
// big-endian 24-bit data (data2 high, data3 middle, data4 low). Values above
// 24 bits keep their low 24 bits; callers range-check first.
Command make_command(Leixing type, std::uint32_t value = 0);
// The 24-bit data of a command (data2 high, data3 middle, data4 low).
std::uint32_t command_value(const Command& command);

// Low 8 bits of the sum of bytes 0..6.
std::uint8_t checksum(std::span<const std::uint8_t, 8> frame);
std::uint8_t checksum(const RxBuf& rx_buf);

// A request as sent to the module at `address`.
Packet build_request(std::uint8_t address, const Command& command);

// A reply as the module sends it: header 0x22, address, type, length 3,
// the 24-bit value and the checksum.
Packet build_reply(std::uint8_t address, std::uint8_t type, std::uint32_t value);

// True when a request frame has the request header and a correct checksum.
bool request_ok(const Packet& frame);

// The reply test: byte 0 is 0x22 and byte 7 is the checksum of bytes 0..6.
// Address and length bytes are not examined.
bool reply_ok(const RxBuf& rx_buf);

// Bytes 4..6 as an unsigned 24-bit big-endian number.
std::uint32_t reply_value(const RxBuf& rx_buf);

}  // namespace pondara
