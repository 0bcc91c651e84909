#include "reply_shaper.h"

namespace pondara::sim {

namespace {

QByteArray bytes_of(const Packet& packet)
{
    return QByteArray(reinterpret_cast<const char*>(packet.data()), static_cast<qsizetype>(packet.size()));
}

QByteArray random_bytes(int count, std::mt19937& rng)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(static_cast<char>(rng() & 0xFFu));
    return bytes;
}

}  // namespace

ShapedReply shape_reply(const Packet& reply, Fault fault, std::mt19937& rng)
{
    const QByteArray whole = bytes_of(reply);
    switch (fault) {
    case Fault::none:
    case Fault::unplug:
    case Fault::fakezero:
        return {whole, {}, {}, {}};
    case Fault::split:
        return {whole.first(shaping::split_first), whole.sliced(shaping::split_first), shaping::split_gap, {}};
    case Fault::twelve:
        return {whole + random_bytes(shaping::twelve_extra, rng), {}, {}, {}};
    case Fault::stray:
        return {random_bytes(1, rng) + whole, {}, {}, {}};
    case Fault::truncated:
        return {whole.first(shaping::truncated_length), {}, {}, {}};
    case Fault::late:
        return {whole.first(shaping::late_first), {}, {}, whole.sliced(shaping::late_first)};
    case Fault::header: {
        Packet wrong = reply;
        wrong[0] = shaping::wrong_header;
        wrong[7] = checksum(wrong);
        return {bytes_of(wrong), {}, {}, {}};
    }
    case Fault::checksum: {
        Packet wrong = reply;
        wrong[7] = static_cast<std::uint8_t>(wrong[7] + 1);
        return {bytes_of(wrong), {}, {}, {}};
    }
    case Fault::noreply:
        return {};
    case Fault::noise:
        return {whole, random_bytes(shaping::noise_length, rng), shaping::noise_gap, {}};
    }
    return {whole, {}, {}, {}};
}

}  // namespace pondara::sim
