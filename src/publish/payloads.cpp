#include "publish/payloads.h"

#include "serial/module_texts.h"

#include <QByteArrayList>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace pondara {

namespace {

QByteArray field(const char* name, const QByteArray& json_value)
{
    return QByteArray("\"") + name + "\":" + json_value;
}

QByteArray quoted(const QByteArray& text) { return '"' + text + '"'; }

QByteArray object(const QList<QByteArray>& fields) { return '{' + fields.join(',') + '}'; }

QByteArray boolean(bool value) { return value ? "true" : "false"; }

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

QString iso_time(std::int64_t wall_ms)
{
    // The C library's local time: the offset comes with it, where Qt's local
    // time looks the zone up afresh for every conversion, five times a second.
    const std::time_t seconds = static_cast<std::time_t>(wall_ms / 1000);
    std::tm local {};
    localtime_r(&seconds, &local);
    const long offset_min = local.tm_gmtoff / 60;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(wall_ms % 1000), offset_min < 0 ? '-' : '+', std::labs(offset_min) / 60,
                  std::labs(offset_min) % 60);
    return QString::fromLatin1(text);
}

QByteArray reading_payload(const Reading& reading)
{
    QList<QByteArray> fields {field("value", QByteArray::number(reading.value)),
                              field("time", quoted(iso_time(reading.wall_ms).toLatin1()))};
    if (reading.stable)
        fields.append(field("stable", boolean(*reading.stable)));
    fields.append(field("stale", boolean(reading.stale)));
    fields.append(field("link", quoted(link_word(reading.link))));
    return object(fields);
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
    QList<QByteArray> fields {field("command", quoted(command_name(leixing))),
                              field("source", quoted(exchange.remote ? "mqtt" : "program")),
                              field("time", quoted(iso_time(exchange.wall_ms).toLatin1())),
                              field("request", quoted(packet_hex(exchange.request).toLatin1()))};
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
