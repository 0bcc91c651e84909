#include "publish/payloads.h"

#include "serial/module_texts.h"
#include "trend_data/csv_row.h"

#include <QByteArrayList>

namespace pondara {

namespace {

QByteArray field(const char* name, const QByteArray& json_value)
{
    return QByteArray("\"") + name + "\":" + json_value;
}

QByteArray quoted(const QByteArray& text) { return '"' + text + '"'; }

QByteArray object(const QList<QByteArray>& fields) { return '{' + fields.join(',') + '}'; }

QByteArray result_word(Exchange::Result result)
{
    switch (result) {
    case Exchange::Result::answered:
        return "answered";
    case Exchange::Result::no_reply:
        return "no_reply";
    case Exchange::Result::bad_reply:
        return "bad_reply";
    case Exchange::Result::port_closed:
        return "port_closed";
    case Exchange::Result::not_sent:
        return "not_sent";
    }
    return {};
}

QByteArray check_word(WeighingCheck::Result result)
{
    switch (result) {
    case WeighingCheck::Result::confirmed:
        return "confirmed";
    case WeighingCheck::Result::off_target:
        return "off_target";
    case WeighingCheck::Result::abandoned:
        return "abandoned";
    }
    return {};
}

}  // namespace

std::optional<bool> is_stable(Motion motion)
{
    if (motion == Motion::unknown)
        return std::nullopt;
    return motion == Motion::stable;
}

const char* link_word(LinkHealth::State state)
{
    switch (state) {
    case LinkHealth::State::ok:
        return "ok";
    case LinkHealth::State::bad_data:
        return "bad";
    default:
        return "silent";
    }
}

QByteArray reading_payload(const Reading& reading)
{
    // Five times a second: written into one buffer.
    QByteArray json;
    json.reserve(112);
    json.append(R"({"value":)");
    json.append(QByteArray::number(reading.value));
    json.append(R"(,"time":")");
    csv::append_local_time(json, reading.wall_ms);
    json.append('"');
    if (reading.stable)
        json.append(*reading.stable ? R"(,"stable":true)" : R"(,"stable":false)");
    json.append(reading.stale ? R"(,"stale":true)" : R"(,"stale":false)");
    json.append(R"(,"link":")").append(link_word(reading.link)).append(R"("})");
    return json;
}

QByteArray command_name(std::uint8_t leixing)
{
    for (const CommandInfo& info : command_table) {
        if (static_cast<std::uint8_t>(info.leixing) == leixing)
            return info.name;
    }
    return {};
}

bool changes_module(std::uint8_t leixing)
{
    const auto type = static_cast<Leixing>(leixing);
    return type == Leixing::zero || type == Leixing::calibrate || type == Leixing::write_zhouqi
           || type == Leixing::write_kuandu;
}

QByteArray event_payload(const Exchange& exchange)
{
    const std::uint8_t leixing = exchange.request[2];
    QByteArray time;
    csv::append_local_time(time, exchange.wall_ms);
    QList<QByteArray> fields {
        field("command", quoted(command_name(leixing))), field("source", quoted(exchange.remote ? "mqtt" : "program")),
        field("time", quoted(time)), field("request", quoted(packet_hex(exchange.request).toLatin1()))};
    if (static_cast<Leixing>(leixing) != Leixing::zero) {
        const Packet& request = exchange.request;
        const std::uint32_t argument = command_value({request[2], request[3], request[4], request[5], request[6]});
        fields.append(field("argument", QByteArray::number(argument)));
    }
    fields.append(field("result", quoted(result_word(exchange.result))));
    if (exchange.result == Exchange::Result::answered)
        fields.append(field("answer", quoted(packet_hex(exchange.answer).toLatin1())));
    if (exchange.check)
        fields.append(field("check", quoted(check_word(*exchange.check))));
    if (exchange.weight_after)
        fields.append(field("weight_after", QByteArray::number(*exchange.weight_after)));
    return object(fields);
}

}  // namespace pondara
