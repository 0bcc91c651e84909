#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace pondara {

// Whether a module answers on a window's port, judged from what the poll
// cycle already does: each request opens an exchange, which the next request
// closes as answered (a reply passed the reply test), garbled (bytes came,
// none made a valid reply) or silent (no byte at all). It sends nothing and
// keeps no timer of its own.
class LinkHealth {
public:
    enum class State : std::uint8_t {
        closed,  // the port is closed: nothing to judge
        pending,  // opened, fewer than three requests judged and no reply yet
        ok,  // a reply was accepted within the last three requests
        no_reply,  // none of the last three requests got a byte back
        bad_data,  // none of the last three got a valid reply, but bytes came
    };
    enum class Drop : std::uint8_t { header, checksum, short_reply };
    enum class Outcome : std::uint8_t { answered, garbled, silent };

    // Counted since the port was opened.
    struct Counters {
        std::uint64_t requests = 0;
        std::uint64_t accepted = 0;
        std::uint64_t bad_header = 0;
        std::uint64_t bad_checksum = 0;
        std::uint64_t too_short = 0;
        std::uint64_t no_reply = 0;  // requests that got no byte back
        std::uint64_t unsent = 0;  // requests the device did not take (its output queue was full)
        std::optional<std::int64_t> last_accepted_ms;  // wall clock, ms since the epoch
    };

    // How many judged requests decide the state: three, 600 ms of polling.
    static constexpr std::size_t window = 3;

    void opened();
    void closed();

    // A request goes out. `flushed` is the number of unread bytes the write
    // discards: the rest of a reply that never reached 8 bytes, or noise.
    void request_sent(int flushed);
    // The request just sent did not go out: the device took no data.
    void request_unsent();

    void reply_accepted(std::int64_t wall_ms);
    void reply_dropped(Drop why);

    State state() const { return m_state; }
    const Counters& counters() const { return m_counters; }

    // The open exchange so far, with `waiting` bytes not yet read.
    Outcome current(int waiting) const;

private:
    void judge();

    State m_state = State::closed;
    Counters m_counters;
    std::deque<Outcome> m_judged;  // the last `window` closed exchanges, newest last
    bool m_exchange_open = false;
    bool m_answered = false;
    bool m_bytes_seen = false;
};

}  // namespace pondara
