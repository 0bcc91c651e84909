#pragma once

#include "protocol/number_conversion.h"
#include "protocol/packet.h"
#include "serial/link_health.h"
#include "serial/port_object.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QTimer;

namespace pondara {

// One thing that happened on a window's link to the module. Which fields
// carry meaning depends on the kind; `link` is the link's state after it.
struct ModuleEvent {
    enum class Kind : std::uint8_t {
        opened,  // port_number, device
        closed,  // port_number, device: closed by the program
        lost,  // port_number, device, loss: the port is already closed
        request_sent,  // bytes (the request), command
        reply_accepted,  // bytes (the reply), type, value
        reply_dropped,  // bytes (the first byte_count of them), drop
        exchange_silent,  // outcome: no valid reply within the reply wait
    };
    Kind kind = Kind::opened;
    std::int64_t mono_ms = 0;  // steady clock
    std::int64_t wall_ms = 0;  // ms since the epoch
    int port_number = 0;
    QString device;
    Packet bytes {};
    int byte_count = 0;
    Command command {};
    std::uint8_t type = 0;  // the reply's type byte
    std::uint32_t value = 0;  // the reply's value
    LinkHealth::Drop drop = LinkHealth::Drop::header;
    LinkHealth::Outcome outcome = LinkHealth::Outcome::silent;
    PortLoss loss {};
    LinkHealth::State link = LinkHealth::State::closed;
    // request_sent: the port took none of the request, its output still
    // waiting for the one before; the module never sees it.
    bool unsent = false;
};

// A window's link to the module: owns the window's port, the request sender
// with its transmit buffer, the reply intake, the link's health and the
// reply-overdue timer, and tells everything that happens on it as one stream
// of events. The windows keep their handlers and call into it; features
// listen to the stream and never send.
class ModuleLink : public QObject {
    Q_OBJECT

public:
    // How long a request may go unanswered before exchange_silent.
    static constexpr int reply_wait_ms = 500;

    // `owner` names the window in the trace ("main window").
    ModuleLink(std::unique_ptr<PortObject> port, QString owner, QObject* parent = nullptr);
    ~ModuleLink() override;

    PortObject& port() { return *m_port; }
    const PortObject& port() const { return *m_port; }
    bool is_open() const { return m_port->portOpen(); }

    // Opens the port numbered `number` with the receive threshold at 8.
    // Returns why it failed; the port then stays closed.
    std::optional<OpenFailure> open(std::int16_t number);
    // Closes the port; closing a closed port only brings the health along.
    void close();

    // Builds the request for the module address typed in `address_text` and
    // the five command bytes in tx_buf, empties the port's input and writes
    // the 8 bytes as one block. When the address does not convert nothing is
    // sent and the conversion error is returned.
    ConversionError send_frame(const QString& address_text, const Command& command);

    // Takes in one reply on a receive event: when the event is "bytes
    // received", reads 8 bytes one at a time into rx_buf[0..7] and returns
    // true when they pass the reply test. Framing is by count only.
    bool take_reply(RxBuf& rx_buf);

    // For a reader that frames replies itself (the bus scan, which reads
    // each byte as it comes and looks for a reply among them): the 8 bytes
    // in rx_buf[0..7], which pass the reply test, taken as the reply, told
    // and traced as take_reply() does.
    void reply_found(const RxBuf& rx_buf);
    // ... and bytes it set aside, traced with the reason (an echo of the
    // request, bytes that form no reply).
    void bytes_skipped(const QByteArray& bytes, const char* why);

    // No exchange_silent for the request sent last.
    void stop_reply_wait();

    const Packet& tx_buf() const { return m_tx_buf; }
    const LinkHealth& health() const { return m_health; }
    LinkHealth::Outcome current_exchange() const;

    // The port number and device of the current or last opening.
    int port_number() const { return m_port_number; }
    QString device() const { return m_device; }

signals:
    void module_event(const pondara::ModuleEvent& event);

private:
    void port_lost(const PortLoss& loss);
    void reply_overdue();
    void accept(ModuleEvent&& event, const RxBuf& rx_buf);
    ModuleEvent stamped(ModuleEvent::Kind kind) const;
    void tell(ModuleEvent&& event);

    std::unique_ptr<PortObject> m_port;
    QString m_owner;
    Packet m_tx_buf {};
    LinkHealth m_health;
    QTimer* m_reply_wait = nullptr;
    int m_port_number = 0;
    QString m_device;
};

// The steady clock the events are stamped with, in ms.
std::int64_t steady_ms();

// The conversion of a box's text, shared by every window.
Converted<double> text_to_double(const QString& text);
Converted<std::int16_t> text_to_int16(const QString& text);
Converted<std::int32_t> text_to_int32(const QString& text);
Converted<std::uint8_t> text_to_byte(const QString& text);
Converted<std::uint8_t> text_to_address_byte(const QString& text);

}  // namespace pondara
