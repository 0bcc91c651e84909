#include "protocol/packet.h"

namespace pondara {

namespace {

template <typename Bytes>
std::uint8_t sum_of_first_seven(const Bytes& bytes)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < 7; ++i)
        sum += static_cast<unsigned>(bytes[i]);
    return static_cast<std::uint8_t>(sum & 0xFFu);
}

}  // namespace

Command make_command(Leixing type, std::uint32_t value)
{
    const auto index = static_cast<std::size_t>(type) - 1;
    return Command {
        static_cast<std::uint8_t>(type),
        command_table.at(index).data1,
        static_cast<std::uint8_t>((value >> 16) & 0xFFu),
        static_cast<std::uint8_t>((value >> 8) & 0xFFu),
        static_cast<std::uint8_t>(value & 0xFFu),
    };
}

std::uint32_t command_value(const Command& command)
{
    return std::uint32_t {command.data2} << 16 | std::uint32_t {command.data3} << 8 | command.data4;
}

std::uint8_t checksum(std::span<const std::uint8_t, 8> frame) { return sum_of_first_seven(frame); }

std::uint8_t checksum(const RxBuf& rx_buf) { return sum_of_first_seven(rx_buf); }

Packet build_request(std::uint8_t address, const Command& command)
{
    Packet frame {request_header, address,       command.leixing, command.data1,
                  command.data2,  command.data3, command.data4,   0};
    frame[7] = checksum(frame);
    return frame;
}

Packet build_reply(std::uint8_t address, std::uint8_t type, std::uint32_t value)
{
    Packet frame {reply_header,
                  address,
                  type,
                  3,
                  static_cast<std::uint8_t>((value >> 16) & 0xFFu),
                  static_cast<std::uint8_t>((value >> 8) & 0xFFu),
                  static_cast<std::uint8_t>(value & 0xFFu),
                  0};
    frame[7] = checksum(frame);
    return frame;
}

bool request_ok(const Packet& frame) { return frame[0] == request_header && frame[7] == checksum(frame); }

bool reply_ok(const RxBuf& rx_buf) { return rx_buf[0] == reply_header && rx_buf[7] == checksum(rx_buf); }

std::uint32_t reply_value(const RxBuf& rx_buf)
{
    // Each slot holds 0..255; masking keeps the value unsigned and 24-bit
    // even if a slot were ever written out of range.
    const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(rx_buf[i]) & 0xFFu; };
    return byte(4) << 16 | byte(5) << 8 | byte(6);
}

}  // namespace pondara
