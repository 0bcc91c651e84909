#include "module_sim.h"

namespace pondara::sim {

namespace {

bool in_range(std::uint32_t value, int low, int high)
{
    return value >= static_cast<std::uint32_t>(low) && value <= static_cast<std::uint32_t>(high);
}

}  // namespace

ModuleSim::ModuleSim(std::uint8_t address, std::uint32_t seed) : m_scale(seed), m_address(address) { }

std::vector<Packet> ModuleSim::receive(QByteArrayView bytes)
{
    std::vector<Packet> replies;
    for (const Packet& request : m_framer.push(bytes)) {
        if (const auto reply = answer(request))
            replies.push_back(*reply);
    }
    return replies;
}

std::optional<Packet> ModuleSim::answer(const Packet& request)
{
    if (request[1] != m_address) {
        ++m_others_seen;
        return std::nullopt;
    }
    ++m_requests_seen;
    const std::uint8_t type = request[2];
    if (type < static_cast<std::uint8_t>(Leixing::read_ad) || type > static_cast<std::uint8_t>(Leixing::read_kuandu))
        return std::nullopt;
    const std::uint32_t data = std::uint32_t {request[4]} << 16 | std::uint32_t {request[5]} << 8 | request[6];
    const auto value = reply_value(static_cast<Leixing>(type), data);
    if (!value)
        return std::nullopt;
    return build_reply(m_address, type, *value);
}

std::optional<std::uint32_t> ModuleSim::reply_value(Leixing type, std::uint32_t data)
{
    switch (type) {
    case Leixing::read_ad:
        return m_scale.read_raw();
    case Leixing::read_weight:
        return m_scale.read_weight();
    case Leixing::zero:
        return m_zero_ignored ? m_scale.zero_point() : m_scale.take_zero();
    case Leixing::calibrate:
        m_scale.calibrate(data);
        return data;
    case Leixing::write_zhouqi:
        if (in_range(data, min_zhouqi, max_zhouqi))
            m_zhouqi = static_cast<int>(data);
        return static_cast<std::uint32_t>(m_zhouqi);
    case Leixing::read_zhouqi:
        return static_cast<std::uint32_t>(m_zhouqi);
    case Leixing::write_kuandu:
        if (in_range(data, min_kuandu, max_kuandu))
            m_scale.set_filter_width(static_cast<int>(data));
        return static_cast<std::uint32_t>(m_scale.filter_width());
    case Leixing::read_kuandu:
        return static_cast<std::uint32_t>(m_scale.filter_width());
    }
    return std::nullopt;
}

}  // namespace pondara::sim
