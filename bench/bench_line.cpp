#include "bench_line.h"

#include "bench_clock.h"

namespace pondara::bench {

BenchLine::BenchLine(int port_number, bool answer, QObject* parent) : QObject(parent), m_line(port_number)
{
    if (!answer)
        m_line.set_fault(sim::Fault::noreply);
    connect(&m_line, &sim::SimLine::bytes_received, this, &BenchLine::note_bytes);
}

void BenchLine::note_bytes(const QByteArray& bytes)
{
    // Every host writes whole 8-byte requests: a request has arrived when
    // its eighth byte has.
    const std::int64_t arrived = now_ns();
    m_partial += bytes.size();
    for (; m_partial >= 8; m_partial -= 8) {
        m_arrivals.push_back(arrived);
        ++m_requests;
    }
}

}  // namespace pondara::bench
