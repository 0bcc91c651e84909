#pragma once

#include "fault.h"
#include "protocol/packet.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>

class QLineEdit;

namespace pondara::sim {
class SimLine;
}

namespace pondara::test {

// Checks, while a window polls the simulated module, that every reply that
// went on the line intact is shown and no other value ever is.
//
// It gives the module a new load at every request, so that every reply
// carries a value of its own, keeps the replies the module sent with the
// fault the line gave each, and matches each change of the window's two
// readouts against them. A reply counts as intact when its fault leaves it
// intact (the fault table says which do: the first 8 bytes the line carried
// for its request were exactly that reply), except the reply after a late
// one: the rest of the late one goes out ahead of it. Memory stays bounded:
// replies are dropped once matched or passed.
class ReplyLedger : public QObject {
    Q_OBJECT

public:
    struct Counts {
        quint64 replies = 0;  // replies the module made
        quint64 intact = 0;  // of which intact on the line
        quint64 spoiled = 0;  // of which not
        quint64 after_late = 0;  // of the spoiled: clean, but behind the rest of a late one
        quint64 shown = 0;  // intact replies shown
        quint64 lost = 0;  // intact replies never shown: must stay 0
        quint64 shown_spoiled = 0;  // spoiled replies shown: must stay 0
        quint64 shown_unknown = 0;  // values shown that no reply carried: must stay 0
        std::array<quint64, sim::fault_table.size()> by_fault {};  // replies by Fault
    };

    ReplyLedger(sim::SimLine& line, QLineEdit* ad_now, QLineEdit* weight_now, QObject* parent = nullptr);

    const Counts& counts() const { return m_counts; }
    bool ok() const { return m_counts.lost == 0 && m_counts.shown_spoiled == 0 && m_counts.shown_unknown == 0; }
    // The first thing that went wrong, in words (empty while ok()).
    const QString& first_problem() const { return m_first_problem; }

    // True when the newest reply is intact and not shown yet.
    bool waiting_for_newest() const;
    // Whether the newest reply is intact (false before any).
    bool newest_intact() const;

    // Counts every intact reply not shown by now as lost. Call when the line
    // is quiet and the window has read everything.
    void finish();

    // One line of the counts, for logs.
    QString summary() const;

private:
    struct Reply {
        std::uint8_t type;
        std::uint32_t value;
        sim::Fault fault;
        bool intact;
        quint64 number;
    };

    void on_request();
    void on_reply(const Packet& reply, sim::Fault fault);
    void on_shown(std::uint8_t type, const QString& text);
    void problem(const QString& what);

    sim::SimLine& m_line;
    std::deque<Reply> m_pending;  // replies not yet matched, oldest first
    sim::Fault m_previous = sim::Fault::none;
    bool m_newest_intact = false;
    std::uint32_t m_load = 0;
    Counts m_counts;
    QString m_first_problem;
};

}  // namespace pondara::test
