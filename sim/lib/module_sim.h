#pragma once

#include "protocol/packet.h"
#include "request_framer.h"
#include "scale_model.h"

#include <QByteArrayView>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace pondara::sim {

// The simulated weighing module: request bytes in, reply frames out.
//
// It answers only requests for its own address, as one module among several
// on a shared line would, and every type 1..8; other types and damaged frames
// get no answer. Replies carry the type asked, length 3 and a 24-bit value:
//   read_ad      the filtered raw AD reading
//   read_weight  the weight, 0..0xFFFFFF
//   zero         the new zero point (a raw reading)
//   calibrate    the calibration weight asked (also when the module refuses
//                to calibrate because the load is not above zero; then the
//                old calibration stays)
//   write_zhouqi / write_kuandu  the value now held: a value out of range
//                (period 1..15, width 1..20) leaves the old one, which the
//                reply then shows
//   read_zhouqi / read_kuandu    the value held
// data1 of a request is ignored.
class ModuleSim {
public:
    static constexpr std::uint8_t default_address = 1;
    static constexpr int min_zhouqi = 1;
    static constexpr int max_zhouqi = 15;
    static constexpr int default_zhouqi = 5;
    static constexpr int min_kuandu = ScaleModel::min_filter_width;
    static constexpr int max_kuandu = ScaleModel::max_filter_width;

    explicit ModuleSim(std::uint8_t address = default_address, std::uint32_t seed = 1);

    // Takes received bytes, in any pieces, and returns the replies due.
    std::vector<Packet> receive(QByteArrayView bytes);
    // The reply to one well-formed request frame, if the module answers it.
    std::optional<Packet> answer(const Packet& request);

    void set_address(std::uint8_t address) { m_address = address; }
    std::uint8_t address() const { return m_address; }

    void set_load(double load) { m_scale.set_load(load); }
    void set_drift(bool on) { m_scale.set_drift(on); }
    // Moves the drifting load on by `elapsed`.
    void step(std::chrono::milliseconds elapsed) { m_scale.step(elapsed); }
    void set_noise(bool on) { m_scale.set_noise(on); }
    void set_seed(std::uint32_t seed) { m_scale.set_seed(seed); }
    // Answers a zero with the zero point it keeps, without taking a new one.
    void set_zero_ignored(bool on) { m_zero_ignored = on; }
    const ScaleModel& scale() const { return m_scale; }

    int zhouqi() const { return m_zhouqi; }
    int kuandu() const { return m_scale.filter_width(); }

    // Well-formed requests for this module's address.
    quint64 requests_seen() const { return m_requests_seen; }
    // Well-formed frames for other addresses.
    quint64 others_seen() const { return m_others_seen; }
    // Bytes dropped as damaged or out of frame.
    quint64 bytes_discarded() const { return m_framer.discarded(); }

private:
    std::optional<std::uint32_t> reply_value(Leixing type, std::uint32_t data);

    RequestFramer m_framer;
    ScaleModel m_scale;
    std::uint8_t m_address;
    int m_zhouqi = default_zhouqi;
    bool m_zero_ignored = false;
    quint64 m_requests_seen = 0;
    quint64 m_others_seen = 0;
};

}  // namespace pondara::sim
