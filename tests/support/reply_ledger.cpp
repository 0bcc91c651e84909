#include "reply_ledger.h"

#include "sim_line.h"

#include <QLineEdit>

namespace pondara::test {

namespace {

using sim::Fault;

// Loads run 1..max_load and start again: far more than are ever pending,
// and every AD value (0x080000 + 8 per unit) stays within 24 bits.
constexpr std::uint32_t max_load = 2'000'000;

bool leaves_reply_intact(Fault fault) { return sim::fault_row(fault).leaves_reply_intact; }

bool shown_in_readout(std::uint8_t type)
{
    return type == static_cast<std::uint8_t>(Leixing::read_ad)
           || type == static_cast<std::uint8_t>(Leixing::read_weight);
}

}  // namespace

ReplyLedger::ReplyLedger(sim::SimLine& line, QLineEdit* ad_now, QLineEdit* weight_now, QObject* parent)
    : QObject(parent),
      m_line(line)
{
    connect(&line, &sim::SimLine::bytes_received, this, &ReplyLedger::on_request);
    connect(&line, &sim::SimLine::reply_sent, this, &ReplyLedger::on_reply);
    connect(ad_now, &QLineEdit::textChanged, this,
            [this](const QString& text) { on_shown(static_cast<std::uint8_t>(Leixing::read_ad), text); });
    connect(weight_now, &QLineEdit::textChanged, this,
            [this](const QString& text) { on_shown(static_cast<std::uint8_t>(Leixing::read_weight), text); });
}

void ReplyLedger::on_request()
{
    // Called before the module answers what just arrived.
    m_load = m_load % max_load + 1;
    m_line.module().set_load(m_load);
}

void ReplyLedger::on_reply(const Packet& reply, Fault fault)
{
    ++m_counts.replies;
    ++m_counts.by_fault[static_cast<std::size_t>(fault)];
    const bool behind_late = m_previous == Fault::late;
    const bool intact = leaves_reply_intact(fault) && !behind_late;
    m_previous = fault;
    m_newest_intact = intact;
    if (intact) {
        ++m_counts.intact;
    } else {
        ++m_counts.spoiled;
        if (behind_late && leaves_reply_intact(fault))
            ++m_counts.after_late;
    }
    if (!shown_in_readout(reply[2]))
        return;
    const std::uint32_t value = std::uint32_t {reply[4]} << 16 | std::uint32_t {reply[5]} << 8 | reply[6];
    m_pending.push_back({reply[2], value, fault, intact, m_counts.replies});
}

void ReplyLedger::on_shown(std::uint8_t type, const QString& text)
{
    bool digits = !text.isEmpty();
    for (QChar c : text)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const std::uint32_t value = digits ? text.toUInt() : 0;
    auto match = m_pending.begin();
    while (digits && match != m_pending.end() && !(match->type == type && match->value == value))
        ++match;
    if (!digits || match == m_pending.end()) {
        ++m_counts.shown_unknown;
        problem(QStringLiteral("readout of type %1 shows \"%2\", which no pending reply carried")
                    .arg(int(type))
                    .arg(text.left(40)));
        return;
    }
    // Replies before the one shown can no longer be shown.
    for (auto passed = m_pending.begin(); passed != match; ++passed) {
        if (passed->intact) {
            ++m_counts.lost;
            problem(QStringLiteral("reply %1 (type %2, value %3, fault %4) was intact but never shown")
                        .arg(passed->number)
                        .arg(int(passed->type))
                        .arg(passed->value)
                        .arg(sim::fault_name(passed->fault)));
        }
    }
    if (match->intact) {
        ++m_counts.shown;
    } else {
        ++m_counts.shown_spoiled;
        problem(QStringLiteral("reply %1 (type %2, value %3) was spoiled by fault %4 but shown")
                    .arg(match->number)
                    .arg(int(match->type))
                    .arg(match->value)
                    .arg(sim::fault_name(match->fault)));
    }
    m_pending.erase(m_pending.begin(), match + 1);
}

bool ReplyLedger::waiting_for_newest() const
{
    return !m_pending.empty() && m_pending.back().number == m_counts.replies && m_pending.back().intact;
}

bool ReplyLedger::newest_intact() const { return m_newest_intact; }

void ReplyLedger::finish()
{
    for (const Reply& reply : m_pending) {
        if (reply.intact) {
            ++m_counts.lost;
            problem(QStringLiteral("reply %1 (type %2, value %3, fault %4) was intact but never shown")
                        .arg(reply.number)
                        .arg(int(reply.type))
                        .arg(reply.value)
                        .arg(sim::fault_name(reply.fault)));
        }
    }
    m_pending.clear();
}

QString ReplyLedger::summary() const
{
    QStringList faults;
    for (std::size_t i = 1; i < m_counts.by_fault.size(); ++i) {
        if (m_counts.by_fault[i] > 0)
            faults.append(
                QStringLiteral("%1 %2").arg(sim::fault_name(static_cast<Fault>(i))).arg(m_counts.by_fault[i]));
    }
    return QStringLiteral("replies %1, intact %2, spoiled %3 (%4; %5 clean but behind a late one), "
                          "shown %6, lost %7, spoiled shown %8, unknown shown %9")
        .arg(m_counts.replies)
        .arg(m_counts.intact)
        .arg(m_counts.spoiled)
        .arg(faults.isEmpty() ? QStringLiteral("no faults") : faults.join(QStringLiteral(", ")))
        .arg(m_counts.after_late)
        .arg(m_counts.shown)
        .arg(m_counts.lost)
        .arg(m_counts.shown_spoiled)
        .arg(m_counts.shown_unknown);
}

void ReplyLedger::problem(const QString& what)
{
    if (m_first_problem.isEmpty())
        m_first_problem = what;
}

}  // namespace pondara::test
