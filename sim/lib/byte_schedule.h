#pragma once

#include <QByteArray>

#include <chrono>
#include <deque>
#include <optional>
#include <vector>

namespace pondara::sim {

// When each byte the module sends goes on the line.
//
// Bytes are added in pieces, each with the time it may start. With pacing on
// the line carries one byte per byte_time (10 bits at 9600 baud) and a byte
// is due when it has been fully sent; with pacing off a byte is due as soon
// as the line is free, so a piece goes out in one go. A piece may bring a
// tail that starts a gap after the piece's last byte was sent. Times are on
// the caller's monotonic clock.
class ByteSchedule {
public:
    using Time = std::chrono::nanoseconds;
    static constexpr Time byte_time {1'041'667};

    void set_pacing(bool on) { m_pacing = on; }
    bool pacing() const { return m_pacing; }

    void add(const QByteArray& bytes, Time start, const QByteArray& tail = {}, Time gap = {});
    // Removes and returns every byte due by `now`.
    QByteArray take_due(Time now);
    // When take_due() next has something to do.
    std::optional<Time> next_event() const;
    bool empty() const { return m_waiting.empty() && m_line.empty(); }
    void clear();

private:
    struct Piece {
        Time start;
        QByteArray bytes;
        QByteArray tail;
        Time gap;
    };
    struct TimedByte {
        Time due;
        char value;
    };

    void insert_waiting(Piece piece);
    void put_on_line(const Piece& piece);

    std::vector<Piece> m_waiting;  // by start time; equal starts keep their order
    std::deque<TimedByte> m_line;  // by due time
    Time m_line_free {};  // when the last byte on the line is sent
    bool m_pacing = true;
};

}  // namespace pondara::sim
