#pragma once

#include "fault.h"

#include <optional>
#include <random>

namespace pondara::sim {

// Which fault the next reply gets: a fault for the next reply only comes
// first, then the standing fault, then, with the fault rate as probability,
// one of the reply faults picked at random.
class FaultPlan {
public:
    void set_standing(Fault fault) { m_standing = fault; }
    void set_once(Fault fault) { m_once = fault; }
    // Clears the standing fault and any fault for the next reply.
    void clear();
    // Clamped to 0..1.
    void set_rate(double probability);

    Fault standing() const { return m_standing; }
    std::optional<Fault> once() const { return m_once; }
    double rate() const { return m_rate; }

    // The fault for the reply about to go out; uses up a fault set once.
    Fault next(std::mt19937& rng);

private:
    Fault m_standing = Fault::none;
    std::optional<Fault> m_once;
    double m_rate = 0.0;
};

}  // namespace pondara::sim
