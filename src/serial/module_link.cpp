#include "serial/module_link.h"

#include "serial/logging.h"
#include "serial/port_object.h"

#include <QDateTime>
#include <QTime>
#include <QTimer>

#include <chrono>

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

std::int64_t steady_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Converted<double> text_to_double(const QString& text) { return convert_text(text, to_double); }
Converted<std::int16_t> text_to_int16(const QString& text) { return convert_text(text, to_int16); }
Converted<std::int32_t> text_to_int32(const QString& text) { return convert_text(text, to_int32); }
Converted<std::uint8_t> text_to_byte(const QString& text) { return convert_text(text, to_byte); }
Converted<std::uint8_t> text_to_address_byte(const QString& text) { return convert_text(text, to_address_byte); }

ModuleLink::ModuleLink(std::unique_ptr<PortObject> port, QString owner, QObject* parent)
    : QObject(parent),
      m_port(std::move(port)),
      m_owner(std::move(owner)),
      m_reply_wait(new QTimer(this))
{
    m_reply_wait->setObjectName(QStringLiteral("reply_check"));  // tests run it on a clock of their own
    m_reply_wait->setSingleShot(true);
    m_reply_wait->setInterval(reply_wait_ms);
    connect(m_reply_wait, &QTimer::timeout, this, &ModuleLink::reply_overdue);
    connect(m_port.get(), &PortObject::lost, this, &ModuleLink::port_lost);
}

ModuleLink::~ModuleLink() = default;

ModuleEvent ModuleLink::stamped(ModuleEvent::Kind kind) const
{
    ModuleEvent event;
    event.kind = kind;
    event.mono_ms = steady_ms();
    event.wall_ms = QDateTime::currentMSecsSinceEpoch();
    event.port_number = m_port_number;
    event.device = m_device;
    return event;
}

void ModuleLink::tell(ModuleEvent&& event)
{
    event.link = m_health.state();
    emit module_event(event);
}

std::optional<OpenFailure> ModuleLink::open(std::int16_t number)
{
    m_port->setCommPort(number);
    if (auto failure = m_port->setPortOpen(true))
        return failure;
    m_port->setRThreshold(8);
    m_port_number = number;
    m_device = m_port->deviceName();
    m_health.opened();
    qCDebug(lc_port).noquote() << m_owner << ": opened port" << m_port_number << m_device;
    tell(stamped(ModuleEvent::Kind::opened));
    return std::nullopt;
}

void ModuleLink::close()
{
    const bool was_open = m_port->portOpen();
    m_reply_wait->stop();
    m_port->setPortOpen(false);
    m_health.closed();
    if (!was_open)
        return;
    qCDebug(lc_port).noquote() << m_owner << ": closed port" << m_port_number << m_device;
    tell(stamped(ModuleEvent::Kind::closed));
}

void ModuleLink::port_lost(const PortLoss& loss)
{
    m_reply_wait->stop();
    m_health.closed();
    qCDebug(lc_port).noquote() << m_owner << ": lost port" << m_port_number << m_device << loss.detail;
    ModuleEvent event = stamped(ModuleEvent::Kind::lost);
    event.loss = loss;
    tell(std::move(event));
}

void ModuleLink::stop_reply_wait() { m_reply_wait->stop(); }

void ModuleLink::reply_overdue()
{
    ModuleEvent event = stamped(ModuleEvent::Kind::exchange_silent);
    event.outcome = current_exchange();
    if (event.outcome != LinkHealth::Outcome::answered)
        tell(std::move(event));
}

bool ModuleLink::take_reply(RxBuf& rx_buf)
{
    if (m_port->commEvent() != PortObject::com_ev_receive)
        return false;
    ModuleEvent event = stamped(ModuleEvent::Kind::reply_dropped);
    for (std::size_t k = 0; k < 8; ++k) {
        const auto byte = m_port->input();
        if (!byte) {
            // Fewer than 8 bytes after all: not a reply.
            qCDebug(lc_line).noquote() << time_stamp() << "dropped" << k << "bytes: short";
            m_health.reply_dropped(LinkHealth::Drop::short_reply);
            event.byte_count = static_cast<int>(k);
            event.drop = LinkHealth::Drop::short_reply;
            tell(std::move(event));
            return false;
        }
        rx_buf[k] = *byte;
        event.bytes[k] = *byte;
    }
    event.byte_count = 8;
    if (reply_ok(rx_buf)) {
        accept(std::move(event), rx_buf);
        return true;
    }
    const bool header = rx_buf[0] == reply_header;
    qCDebug(lc_line).noquote() << time_stamp() << "dropped" << spaced_hex(rx_buf)
                               << (header ? "bad checksum" : "bad header");
    event.drop = header ? LinkHealth::Drop::checksum : LinkHealth::Drop::header;
    m_health.reply_dropped(event.drop);
    tell(std::move(event));
    return false;
}

void ModuleLink::accept(ModuleEvent&& event, const RxBuf& rx_buf)
{
    qCDebug(lc_line).noquote() << time_stamp() << "<-" << spaced_hex(rx_buf);
    m_health.reply_accepted(event.wall_ms);
    m_reply_wait->stop();
    event.kind = ModuleEvent::Kind::reply_accepted;
    event.type = static_cast<std::uint8_t>(rx_buf[2]);
    event.value = reply_value(rx_buf);
    tell(std::move(event));
}

void ModuleLink::reply_found(const RxBuf& rx_buf)
{
    ModuleEvent event = stamped(ModuleEvent::Kind::reply_accepted);
    for (std::size_t k = 0; k < 8; ++k)
        event.bytes[k] = static_cast<std::uint8_t>(rx_buf[k]);
    event.byte_count = 8;
    accept(std::move(event), rx_buf);
}

void ModuleLink::bytes_skipped(const QByteArray& bytes, const char* why)
{
    qCDebug(lc_line).noquote() << time_stamp() << "skipped" << bytes.size() << "bytes"
                               << QString::fromLatin1(bytes.toHex(' ').toUpper()) + QLatin1Char(':') << why;
}

ConversionError ModuleLink::send_frame(const QString& address_text, const Command& command)
{
    const auto address = text_to_address_byte(address_text);
    if (!address)
        return address.error();
    m_tx_buf = build_request(address.value(), command);
    const int flushed = m_port->inBufferCount();
    if (flushed > 0)
        qCDebug(lc_line).noquote() << time_stamp() << "discarded" << flushed << "unread bytes";
    m_health.request_sent(flushed);
    m_port->clearInBuffer();
    const bool written = m_port->setOutput(m_tx_buf);
    if (written) {
        qCDebug(lc_line).noquote() << time_stamp() << "->" << spaced_hex(m_tx_buf);
    } else {
        qCDebug(lc_line).noquote() << time_stamp() << "not sent" << spaced_hex(m_tx_buf);
        m_health.request_unsent();
    }
    m_reply_wait->start();
    ModuleEvent event = stamped(ModuleEvent::Kind::request_sent);
    event.unsent = !written;
    event.bytes = m_tx_buf;
    event.byte_count = 8;
    event.command = command;
    tell(std::move(event));
    return ConversionError::none;
}

LinkHealth::Outcome ModuleLink::current_exchange() const { return m_health.current(m_port->inBufferCount()); }

}  // namespace pondara
