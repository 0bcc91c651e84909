#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace pondara::sim {

// Ways the simulated line can spoil a reply. Each mirrors a case the host
// must cope with when it reads a reply.
enum class Fault : std::uint8_t {
    none,
    split,  // 5 bytes, a pause, then the other 3
    twelve,  // the reply and 4 bytes more
    stray,  // one stray byte ahead of the reply
    truncated,  // only the first 5 bytes
    late,  // 3 bytes now, the other 5 only when the next request comes
    header,  // a wrong header byte (checksum made to match)
    checksum,  // checksum off by one
    noreply,  // nothing at all
    noise,  // the reply, then a few random bytes a little later
    unplug,  // the line is closed instead of answering
    fakezero,  // a zero is acknowledged but not taken: the weight stays
};

// The faults a random fault rate picks from: all that shape one reply.
inline constexpr std::array<Fault, 9> reply_faults {
    Fault::split,  Fault::twelve,   Fault::stray,   Fault::truncated, Fault::late,
    Fault::header, Fault::checksum, Fault::noreply, Fault::noise,
};

QString fault_name(Fault fault);
std::optional<Fault> fault_from_name(const QString& name);
// Every name, "none" first.
QStringList fault_names();

}  // namespace pondara::sim
