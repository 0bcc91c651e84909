#include "publish/publisher.h"

#include "publish/mqtt_log.h"

#include <QDateTime>
#include <QTimer>

#include <cstring>

namespace pondara {

namespace {

constexpr int retained_qos = 1;
constexpr int event_qos = 1;
constexpr char online[] = "online";
constexpr char offline[] = "offline";

}  // namespace

Publisher::Publisher(const PublishOptions& options, ModuleLink& link, QueueCommand queue_command, QObject* parent)
    : QObject(parent),
      m_prefix(options.prefix),
      m_commands(options.commands),
      m_client(new MqttClient(options.broker, this)),
      m_link(link),
      m_queue_command(std::move(queue_command)),
      m_check_deadline(new QTimer(this))
{
    setObjectName(QStringLiteral("publisher"));
    // Started after the link: the port and address it already uses.
    Station station;
    if (link.port_number() != 0)
        station.port = link.port_number();
    if (link.tx_buf()[0] == request_header)
        station.address = link.tx_buf()[1];
    set_station(station);
    m_link_state = link.health().state();
    m_client->set_will(topic("state"), offline);
    connect(m_client, &MqttClient::connected, this, &Publisher::on_connected);
    connect(m_client, &MqttClient::message, this, &Publisher::on_message);
    watch(link);
    m_check_deadline->setSingleShot(true);
    m_check_deadline->setInterval(WeighingCheck::watch_ms + 1000);
    connect(m_check_deadline, &QTimer::timeout, this, &Publisher::publish_awaiting);
}

void Publisher::watch(ModuleLink& link)
{
    const ModuleLink* watched = &link;
    connect(&link, &ModuleLink::module_event, this,
            [this, watched](const ModuleEvent& event) { take(watched, event); });
    connect(&link, &QObject::destroyed, this, [this, watched] { m_exchanges.remove(watched); });
}

void Publisher::start() { m_client->start(); }

QByteArray Publisher::topic(const char* leaf) const { return m_station_topic + leaf; }

void Publisher::set_station(const Station& station)
{
    m_station = station;
    m_station_topic
        = QStringLiteral("%1/com%2/addr%3/").arg(m_prefix).arg(m_station.port).arg(m_station.address).toUtf8();
    m_ad_topic = topic("ad");
    m_weight_topic = topic("weight");
}

QString Publisher::status_text() const
{
    const MqttSettings& broker = m_client->settings();
    const QString where = QStringLiteral("%1:%2").arg(broker.host).arg(broker.port);
    const MqttClient::Counters& counters = m_client->counters();
    const QString tally = QStringLiteral("已发送 %1 条，丢弃 %2 条").arg(counters.sent).arg(counters.dropped);
    switch (m_client->state()) {
    case MqttClient::State::connected:
        return QStringLiteral("MQTT：已连接 %1，%2").arg(where, tally);
    case MqttClient::State::connecting:
        return QStringLiteral("MQTT：正在连接 %1，%2").arg(where, tally);
    default:
        break;
    }
    const auto wait_s = (m_client->next_attempt_in().count() + 999) / 1000;
    return QStringLiteral("MQTT：未连接 %1（%2），%3 秒后重试，%4")
        .arg(where, m_client->problem())
        .arg(wait_s)
        .arg(tally);
}

void Publisher::take(const ModuleLink* link, const ModuleEvent& event)
{
    using Kind = ModuleEvent::Kind;
    const bool main_link = link == &m_link;
    if (main_link && (event.kind == Kind::opened || event.kind == Kind::request_sent))
        follow_station(event);
    if (main_link)
        follow_link(event.link);
    switch (event.kind) {
    case Kind::request_sent:
        end_exchange(link, Exchange::Result::no_reply);
        if (changes_module(event.command.leixing)) {
            begin_exchange(link, event);
            // The port did not take it: nothing will answer, and the module
            // was not changed. Said at once, as what it is.
            if (event.unsent)
                end_exchange(link, Exchange::Result::not_sent);
        }
        if (main_link)
            m_remote_zero_queued = false;
        break;
    case Kind::reply_accepted:
        if (main_link && event.type == static_cast<std::uint8_t>(Leixing::read_ad))
            publish_reading(Value::ad, {event.value, event.wall_ms, {}, false, event.link});
        if (main_link && event.type == static_cast<std::uint8_t>(Leixing::read_weight))
            publish_reading(Value::weight, {event.value, event.wall_ms, {}, false, event.link});
        end_exchange(link, Exchange::Result::answered, event.bytes);
        break;
    case Kind::exchange_silent:
        end_exchange(link, event.outcome == LinkHealth::Outcome::garbled ? Exchange::Result::bad_reply
                                                                         : Exchange::Result::no_reply);
        break;
    case Kind::closed:
    case Kind::lost:
        end_exchange(link, Exchange::Result::no_reply);
        break;
    default:
        break;
    }
}

// The port number comes with each opening and the module address with each
// request. Another station means other topics and another last will: the
// old station says goodbye and the connection starts again under the new.
void Publisher::follow_station(const ModuleEvent& event)
{
    Station station = m_station;
    if (event.kind == ModuleEvent::Kind::opened)
        station.port = event.port_number;
    else
        station.address = event.bytes[1];
    if (station == m_station)
        return;
    // QoS 0: written before the goodbye, and not sent again after it under
    // the new connection.
    m_client->publish(topic("state"), offline, 0, true);
    qCDebug(lc_mqtt).noquote() << "station" << m_station_topic << "->" << station.port << station.address;
    set_station(station);
    m_ad.reset();
    m_weight.reset();
    m_client->set_will(topic("state"), offline);
    if (m_client->state() == MqttClient::State::connected)
        m_client->reconnect();
}

void Publisher::follow_link(LinkHealth::State state)
{
    const char* word = link_word(state);
    const bool changed = std::strcmp(word, link_word(m_link_state)) != 0;
    const bool confirmed_before = m_link_state == LinkHealth::State::ok;
    m_link_state = state;
    if (!changed)
        return;
    m_client->publish(topic("link"), word, retained_qos, true);
    if (!confirmed_before)
        return;
    // Subscribers watching only the values learn that they are no longer
    // fresh.
    for (const Value value : {Value::ad, Value::weight}) {
        if (const std::optional<Reading>& last = value == Value::ad ? m_ad : m_weight) {
            Reading stale = *last;
            stale.stale = true;
            stale.link = state;
            publish_reading(value, stale);
        }
    }
}

void Publisher::publish_reading(Value value, const Reading& reading)
{
    Reading shown = reading;
    if (m_stability)
        shown.stable = is_stable(m_stability());
    (value == Value::ad ? m_ad : m_weight) = shown;
    m_client->publish(value == Value::ad ? m_ad_topic : m_weight_topic, reading_payload(shown), 0, false);
}

void Publisher::begin_exchange(const ModuleLink* link, const ModuleEvent& event)
{
    Exchange exchange;
    exchange.request = event.bytes;
    exchange.wall_ms = event.wall_ms;
    exchange.remote = link == &m_link && m_remote_zero_queued && event.command.leixing == std::uint8_t(Leixing::zero);
    m_exchanges.insert(link, exchange);
}

void Publisher::end_exchange(const ModuleLink* link, Exchange::Result result, const Packet& answer)
{
    const auto found = m_exchanges.constFind(link);
    if (found == m_exchanges.cend())
        return;
    Exchange exchange = *found;
    m_exchanges.erase(found);
    exchange.result = result;
    exchange.answer = answer;
    const auto type = static_cast<Leixing>(exchange.request[2]);
    if (link != &m_link || result != Exchange::Result::answered
        || (type != Leixing::zero && type != Leixing::calibrate)) {
        publish_event(exchange);
        return;
    }
    publish_awaiting();
    m_awaiting_check = exchange;
    m_check_deadline->start();
}

void Publisher::check_finished(const WeighingCheck& check)
{
    const auto kind = check.kind == WeighingCheck::Kind::zero ? Leixing::zero : Leixing::calibrate;
    if (!m_awaiting_check || static_cast<Leixing>(m_awaiting_check->request[2]) != kind)
        return;
    m_awaiting_check->check = check.result;
    m_awaiting_check->weight_after = check.weight_after;
    publish_awaiting();
}

void Publisher::publish_awaiting()
{
    m_check_deadline->stop();
    if (m_awaiting_check)
        publish_event(*std::exchange(m_awaiting_check, std::nullopt));
}

void Publisher::publish_event(const Exchange& exchange)
{
    m_client->publish(topic("event"), event_payload(exchange), event_qos, false);
}

void Publisher::on_connected()
{
    m_client->publish(topic("state"), online, retained_qos, true);
    m_client->publish(topic("link"), link_word(m_link_state), retained_qos, true);
    if (m_commands)
        m_client->subscribe(topic("cmd/#"), 1);
}

void Publisher::on_message(const QString& topic, const QByteArray& payload, bool retained)
{
    if (!m_commands)
        return;
    const char* ignored = nullptr;
    if (topic.toUtf8() != this->topic("cmd/zero"))
        ignored = "unknown command";
    else if (retained)
        ignored = "a retained command is an old one";
    else if (!payload.isEmpty())
        ignored = "cmd/zero takes an empty payload";
    if (ignored) {
        qCInfo(lc_mqtt).noquote() << "ignored" << topic << payload.left(64).toHex(' ') << ":" << ignored;
        return;
    }
    qCInfo(lc_mqtt).noquote() << "remote zero queued";
    m_queue_command(make_command(Leixing::zero));
    if (m_link.is_open()) {
        m_remote_zero_queued = true;
        return;
    }
    // The next tick discards it, as it does the button's: say so.
    Exchange exchange;
    exchange.request = build_request(static_cast<std::uint8_t>(m_station.address), make_command(Leixing::zero));
    exchange.wall_ms = QDateTime::currentMSecsSinceEpoch();
    exchange.remote = true;
    exchange.result = Exchange::Result::port_closed;
    publish_event(exchange);
}

}  // namespace pondara
