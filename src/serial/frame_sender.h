#pragma once

#include "protocol/number_conversion.h"
#include "protocol/packet.h"
#include "serial/link_health.h"

#include <QString>

namespace pondara {

class PortObject;

// The sender and reply intake of one window's port: builds a request in its
// own transmit buffer and writes it, takes in the replies, and keeps the
// link's health from both. The main window's sender and the parameters
// dialog's are two instances of this class on two ports.
class FrameSender {
public:
    explicit FrameSender(PortObject& port) : m_port(port) { }

    // Builds the request for the module address typed in `address_text` and
    // the five command bytes in tx_buf, empties the port's input and writes
    // the 8 bytes as one block. When the address does not convert nothing is
    // sent and the conversion error is returned.
    ConversionError send_frame(const QString& address_text, const Command& command);

    // Takes in one reply on a receive event: when the event is "bytes
    // received", reads 8 bytes one at a time into rx_buf[0..7] and returns
    // true when they pass the reply test. Framing is by count only.
    bool take_reply(RxBuf& rx_buf);

    const Packet& tx_buf() const { return m_tx_buf; }

    // The link's health since the port was last opened; the window reports
    // opening and closing, the sender and the intake everything else.
    LinkHealth& link() { return m_link; }
    const LinkHealth& link() const { return m_link; }
    LinkHealth::Outcome current_exchange() const;

private:
    PortObject& m_port;
    Packet m_tx_buf {};
    LinkHealth m_link;
};

// The conversion of a box's text, shared by every window.
Converted<double> text_to_double(const QString& text);
Converted<std::int16_t> text_to_int16(const QString& text);
Converted<std::int32_t> text_to_int32(const QString& text);
Converted<std::uint8_t> text_to_byte(const QString& text);
Converted<std::uint8_t> text_to_address_byte(const QString& text);

}  // namespace pondara
