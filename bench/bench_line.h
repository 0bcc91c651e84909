#pragma once

#include "byte_schedule.h"
#include "module_sim.h"
#include "port_link.h"
#include "pseudo_terminal.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <vector>

class QSocketNotifier;

namespace pondara::bench {

// A simulated line for the benchmarks, built from the simulator's own parts:
// a pseudo-terminal published as virtual port N, the ModuleSim answering
// what arrives, and the simulator's 9600-baud pacing of the replies. On top
// of the simulator it takes the time (CLOCK_MONOTONIC) at which each
// well-formed request arrives. With `answer` false it only takes the times.
class BenchLine : public QObject {
public:
    BenchLine(int port_number, bool answer, QObject* parent = nullptr);
    ~BenchLine() override;

    bool start(QString* error);
    // Closes the line as a pulled cable does: the host sees a hang-up and
    // the link goes.
    void unplug();

    QString device() const { return m_pty.slave_path(); }
    std::uint64_t requests() const { return m_requests; }
    const std::vector<std::int64_t>& arrivals() const { return m_arrivals; }
    void clear_arrivals() { m_arrivals.clear(); }

private:
    void read_requests();
    void pump();
    sim::ByteSchedule::Time now() const;

    const bool m_answer;
    sim::ModuleSim m_module;
    sim::ByteSchedule m_schedule;
    sim::PseudoTerminal m_pty;
    sim::PortLink m_link;
    QSocketNotifier* m_reader = nullptr;
    QTimer m_write_timer;
    QElapsedTimer m_clock;
    std::uint64_t m_requests = 0;
    std::vector<std::int64_t> m_arrivals;
};

}  // namespace pondara::bench
