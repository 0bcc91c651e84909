#pragma once

#include "sim_line.h"

#include <QObject>

#include <cstdint>
#include <vector>

namespace pondara::bench {

// The simulated module on virtual port N, as the simulator runs it (9600-baud
// pacing), that also takes the time (CLOCK_MONOTONIC) at which each request
// arrives. With `answer` false it only takes the times.
class BenchLine : public QObject {
public:
    BenchLine(int port_number, bool answer, QObject* parent = nullptr);

    bool start(QString* error) { return m_line.start(error); }
    // Closes the line as a pulled cable does: the host sees a hang-up and
    // the link goes.
    void unplug() { m_line.unplug(); }

    QString device() const { return m_line.device_path(); }
    std::uint64_t requests() const { return m_requests; }
    const std::vector<std::int64_t>& arrivals() const { return m_arrivals; }

private:
    void note_bytes(const QByteArray& bytes);

    sim::SimLine m_line;
    qsizetype m_partial = 0;  // bytes of a request not yet complete
    std::uint64_t m_requests = 0;
    std::vector<std::int64_t> m_arrivals;
};

}  // namespace pondara::bench
