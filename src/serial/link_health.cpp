#include "serial/link_health.h"

#include <algorithm>

namespace pondara {

void LinkHealth::opened()
{
    *this = LinkHealth {};
    m_state = State::pending;
}

void LinkHealth::closed()
{
    m_state = State::closed;
    m_exchange_open = false;
}

LinkHealth::Outcome LinkHealth::current(int waiting) const
{
    if (m_answered)
        return Outcome::answered;
    return m_bytes_seen || waiting > 0 ? Outcome::garbled : Outcome::silent;
}

void LinkHealth::request_sent(int flushed)
{
    if (m_state == State::closed)
        return;
    if (m_exchange_open) {
        // Bytes flushed from an exchange without a full frame are a reply
        // cut short; after an accepted reply they are only trailing noise.
        if (flushed > 0 && !m_answered && !m_bytes_seen)
            ++m_counters.too_short;
        const Outcome outcome = current(flushed);
        if (outcome == Outcome::silent)
            ++m_counters.no_reply;
        m_judged.push_back(outcome);
        if (m_judged.size() > window)
            m_judged.pop_front();
    }
    ++m_counters.requests;
    m_exchange_open = true;
    m_answered = false;
    m_bytes_seen = false;
    judge();
}

void LinkHealth::request_unsent()
{
    if (m_state != State::closed)
        ++m_counters.unsent;
}

void LinkHealth::reply_accepted(std::int64_t wall_ms)
{
    ++m_counters.accepted;
    m_counters.last_accepted_ms = wall_ms;
    m_answered = true;
    m_bytes_seen = true;
    if (m_state != State::closed)
        m_state = State::ok;
}

void LinkHealth::reply_dropped(Drop why)
{
    switch (why) {
    case Drop::header:
        ++m_counters.bad_header;
        break;
    case Drop::checksum:
        ++m_counters.bad_checksum;
        break;
    case Drop::short_reply:
        ++m_counters.too_short;
        break;
    }
    m_bytes_seen = true;
}

void LinkHealth::judge()
{
    const auto count = [this](Outcome o) { return std::count(m_judged.begin(), m_judged.end(), o); };
    if (count(Outcome::answered) > 0)
        m_state = State::ok;
    else if (m_judged.size() < window)
        return;  // too early to say; one lost reply never flips the state
    else
        m_state = count(Outcome::garbled) > 0 ? State::bad_data : State::no_reply;
}

}  // namespace pondara
