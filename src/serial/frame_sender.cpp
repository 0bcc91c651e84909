#include "serial/frame_sender.h"

#include "serial/port_object.h"

namespace pondara {

namespace {

template <typename Convert>
auto convert_text(const QString& text, Convert convert)
{
    const QByteArray utf8 = text.toUtf8();
    return convert(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace

Converted<double> text_to_double(const QString& text) { return convert_text(text, to_double); }
Converted<std::int16_t> text_to_int16(const QString& text) { return convert_text(text, to_int16); }
Converted<std::int32_t> text_to_int32(const QString& text) { return convert_text(text, to_int32); }
Converted<std::uint8_t> text_to_byte(const QString& text) { return convert_text(text, to_byte); }
Converted<std::uint8_t> text_to_address_byte(const QString& text)
{
    return convert_text(text, to_address_byte);
}

bool take_reply(PortObject& port, RxBuf& rx_buf)
{
    if (port.commEvent() != PortObject::com_ev_receive)
        return false;
    for (std::size_t k = 0; k < 8; ++k) {
        const auto byte = port.input();
        if (!byte)
            return false;  // fewer than 8 bytes after all: not a reply
        rx_buf[k] = *byte;
    }
    return reply_ok(rx_buf);
}

ConversionError FrameSender::send_frame(const QString& address_text, const Command& command)
{
    const auto address = text_to_address_byte(address_text);
    if (!address)
        return address.error();
    m_tx_buf = build_request(address.value(), command);
    m_port.clearInBuffer();
    m_port.setOutput(m_tx_buf);
    return ConversionError::none;
}

}  // namespace pondara
