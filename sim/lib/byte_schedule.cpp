#include "byte_schedule.h"

#include <algorithm>

namespace pondara::sim {

void ByteSchedule::add(const QByteArray& bytes, Time start, const QByteArray& tail, Time gap)
{
    if (bytes.isEmpty()) {
        if (!tail.isEmpty())
            insert_waiting({start + gap, tail, {}, {}});
        return;
    }
    insert_waiting({start, bytes, tail, gap});
}

void ByteSchedule::insert_waiting(Piece piece)
{
    const auto after = std::upper_bound(m_waiting.begin(), m_waiting.end(), piece.start,
                                        [](Time start, const Piece& other) { return start < other.start; });
    m_waiting.insert(after, std::move(piece));
}

void ByteSchedule::put_on_line(const Piece& piece)
{
    for (const char value : piece.bytes) {
        const Time due = std::max(piece.start, m_line_free) + (m_pacing ? byte_time : Time {});
        m_line.push_back({due, value});
        m_line_free = due;
    }
    if (!piece.tail.isEmpty())
        insert_waiting({m_line_free + piece.gap, piece.tail, {}, {}});
}

QByteArray ByteSchedule::take_due(Time now)
{
    // Pieces join the line in start order; a tail may start before `now`
    // too, so take the front again each time.
    while (!m_waiting.empty() && m_waiting.front().start <= now) {
        const Piece piece = std::move(m_waiting.front());
        m_waiting.erase(m_waiting.begin());
        put_on_line(piece);
    }
    QByteArray due;
    while (!m_line.empty() && m_line.front().due <= now) {
        due.append(m_line.front().value);
        m_line.pop_front();
    }
    return due;
}

std::optional<ByteSchedule::Time> ByteSchedule::next_event() const
{
    std::optional<Time> next;
    if (!m_line.empty())
        next = m_line.front().due;
    if (!m_waiting.empty() && (!next || m_waiting.front().start < *next))
        next = m_waiting.front().start;
    return next;
}

void ByteSchedule::clear()
{
    m_waiting.clear();
    m_line.clear();
}

}  // namespace pondara::sim
