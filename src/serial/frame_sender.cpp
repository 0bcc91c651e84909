#include "serial/frame_sender.h"

#include "serial/logging.h"
#include "serial/port_object.h"

#include <QDateTime>
#include <QTime>

namespace pondara {

namespace {

QString time_stamp() { return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")); }

// The first 8 bytes of a packet or receive buffer, for the trace.
template <typename Bytes>
QString spaced_hex(const Bytes& bytes)
{
    QByteArray raw;
    for (std::size_t k = 0; k < 8; ++k)
        raw.append(static_cast<char>(bytes[k]));
    return QString::fromLatin1(raw.toHex(' ').toUpper());
}

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
Converted<std::uint8_t> text_to_address_byte(const QString& text) { return convert_text(text, to_address_byte); }

bool FrameSender::take_reply(RxBuf& rx_buf)
{
    if (m_port.commEvent() != PortObject::com_ev_receive)
        return false;
    for (std::size_t k = 0; k < 8; ++k) {
        const auto byte = m_port.input();
        if (!byte) {
            // Fewer than 8 bytes after all: not a reply.
            qCDebug(lc_line).noquote() << time_stamp() << "dropped" << k << "bytes: short";
            m_link.reply_dropped(LinkHealth::Drop::short_reply);
            return false;
        }
        rx_buf[k] = *byte;
    }
    if (reply_ok(rx_buf)) {
        qCDebug(lc_line).noquote() << time_stamp() << "<-" << spaced_hex(rx_buf);
        m_link.reply_accepted(QDateTime::currentMSecsSinceEpoch());
        return true;
    }
    const bool header = rx_buf[0] == reply_header;
    qCDebug(lc_line).noquote() << time_stamp() << "dropped" << spaced_hex(rx_buf)
                               << (header ? "bad checksum" : "bad header");
    m_link.reply_dropped(header ? LinkHealth::Drop::checksum : LinkHealth::Drop::header);
    return false;
}

ConversionError FrameSender::send_frame(const QString& address_text, const Command& command)
{
    const auto address = text_to_address_byte(address_text);
    if (!address)
        return address.error();
    m_tx_buf = build_request(address.value(), command);
    const int flushed = m_port.inBufferCount();
    if (flushed > 0)
        qCDebug(lc_line).noquote() << time_stamp() << "discarded" << flushed << "unread bytes";
    m_link.request_sent(flushed);
    m_port.clearInBuffer();
    if (m_port.setOutput(m_tx_buf)) {
        qCDebug(lc_line).noquote() << time_stamp() << "->" << spaced_hex(m_tx_buf);
    } else {
        qCDebug(lc_line).noquote() << time_stamp() << "not sent" << spaced_hex(m_tx_buf);
        m_link.request_unsent();
    }
    return ConversionError::none;
}

LinkHealth::Outcome FrameSender::current_exchange() const { return m_link.current(m_port.inBufferCount()); }

}  // namespace pondara
