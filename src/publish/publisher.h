#pragma once

#include "protocol/packet.h"
#include "publish/mqtt_client.h"
#include "publish/payloads.h"
#include "publish/publish_options.h"
#include "serial/module_link.h"

#include <QHash>
#include <QObject>

class QTimer;

#include <functional>
#include <optional>

namespace pondara {

// Publishes what a window's link hears to an MQTT broker, under
// <prefix>/com<N>/addr<A>/ for the port and module address in use:
// - weight, ad: each accepted reading, QoS 0; once more, marked stale, when
//   the link stops confirming it;
// - state: "online", retained, with "offline" as the connection's last will;
// - link: "ok" / "silent" / "bad", retained, at each change;
// - event: each zero, calibration and parameter write with the module's
//   answer and, for a zero or calibration, whether the weight then settled
//   on its target, QoS 1.
// With `commands`, a message with an empty payload on cmd/zero queues the
// zero command exactly as the 置零 button does; everything else under cmd/
// is ignored and logged. It sends nothing on the line itself.
class Publisher : public QObject {
    Q_OBJECT

public:
    using QueueCommand = std::function<void(const Command&)>;
    // Whether the weight is still now.
    using Stability = std::function<Motion()>;

    Publisher(const PublishOptions& options, ModuleLink& link, QueueCommand queue_command, QObject* parent = nullptr);

    // A further link (the parameters dialog's) whose writes go to `event`.
    void watch(ModuleLink& link);
    void set_stability(Stability stability) { m_stability = std::move(stability); }
    // Connects, and keeps connecting.
    void start();
    // The check of an answered zero or calibration: its event goes out with
    // the result (or without one, should none come in time).
    void check_finished(const pondara::WeighingCheck& check);

    MqttClient& client() { return *m_client; }
    // One line for the link indicator's tooltip.
    QString status_text() const;
    // <prefix>/com<N>/addr<A>/<leaf> for the station in use.
    QByteArray topic(const char* leaf) const;

private:
    struct Station {
        int port = 1;
        int address = 1;
        friend bool operator==(const Station&, const Station&) = default;
    };

    enum class Value : std::uint8_t { ad, weight };

    void set_station(const Station& station);
    void take(const ModuleLink* link, const ModuleEvent& event);
    void follow_station(const ModuleEvent& event);
    void follow_link(LinkHealth::State state);
    void publish_reading(Value value, const Reading& reading);
    void begin_exchange(const ModuleLink* link, const ModuleEvent& event);
    void end_exchange(const ModuleLink* link, Exchange::Result result, const Packet& answer = {});
    void publish_event(const Exchange& exchange);
    void publish_awaiting();
    void on_connected();
    void on_message(const QString& topic, const QByteArray& payload, bool retained);

    QString m_prefix;
    bool m_commands = false;
    MqttClient* m_client;
    ModuleLink& m_link;
    QueueCommand m_queue_command;
    Stability m_stability;
    Station m_station;
    // Its topics as they go on the wire: <prefix>/com<N>/addr<A>/, ad, weight.
    QByteArray m_station_topic;
    QByteArray m_ad_topic;
    QByteArray m_weight_topic;
    LinkHealth::State m_link_state = LinkHealth::State::closed;
    std::optional<Reading> m_ad;
    std::optional<Reading> m_weight;
    QHash<const ModuleLink*, Exchange> m_exchanges;  // sent, not yet answered
    bool m_remote_zero_queued = false;
    std::optional<Exchange> m_awaiting_check;  // answered, its check still running
    QTimer* m_check_deadline;
};

}  // namespace pondara
