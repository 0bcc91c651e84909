#include "main_window/weighing_watch.h"

#include <QLoggingCategory>
#include <QTimer>

// Each check's start and end; silent unless enabled.
Q_LOGGING_CATEGORY(lc_weighing, "pondara.weighing", QtWarningMsg)

namespace pondara {

namespace {

std::optional<WeighingCheck::Kind> kind_of(std::uint8_t leixing)
{
    if (leixing == static_cast<std::uint8_t>(Leixing::zero))
        return WeighingCheck::Kind::zero;
    if (leixing == static_cast<std::uint8_t>(Leixing::calibrate))
        return WeighingCheck::Kind::calibration;
    return std::nullopt;
}

bool same(const MotionReading& a, const MotionReading& b)
{
    return a.motion == b.motion && a.count == b.count && a.minimum == b.minimum && a.maximum == b.maximum
           && a.latest == b.latest;
}

}  // namespace

WeighingWatch::WeighingWatch(ModuleLink& link, QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("weighing_watch"));
    m_deadline = new QTimer(this);
    m_deadline->setObjectName(QStringLiteral("check_deadline"));
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(static_cast<int>(WeighingCheck::watch_ms));
    connect(m_deadline, &QTimer::timeout, this, [this] { finish(WeighingCheck::Result::off_target, steady_ms()); });
    connect(&link, &ModuleLink::module_event, this, &WeighingWatch::take);
}

void WeighingWatch::set_rule(const MotionRule& rule)
{
    m_values = MotionWatch(rule);
    judge(steady_ms());
}

void WeighingWatch::queued(const Command& command)
{
    const auto kind = kind_of(command.leixing);
    if (!kind)
        return;
    const std::int64_t now = steady_ms();
    if (m_check)
        finish(WeighingCheck::Result::abandoned, now);
    judge(now);
    WeighingCheck check;
    check.kind = *kind;
    check.weight_before = m_reading.latest;
    check.at_click = m_reading.motion;
    check.clicked_ms = now;
    if (*kind == WeighingCheck::Kind::calibration)
        check.target = command_value(command);
    m_check = check;
    emit check_started();
}

void WeighingWatch::take(const ModuleEvent& event)
{
    using Kind = ModuleEvent::Kind;
    m_link_ok = event.link == LinkHealth::State::ok;
    switch (event.kind) {
    case Kind::opened:
    case Kind::closed:
    case Kind::lost:
        m_values.break_run();
        if (m_check)
            finish(WeighingCheck::Result::abandoned, event.mono_ms);
        break;
    case Kind::request_sent:
        sent(event);
        break;
    case Kind::reply_accepted:
        if (event.type == static_cast<std::uint8_t>(Leixing::read_weight))
            weight_arrived(event);
        else if (kind_of(event.type))
            acknowledged(event);
        break;
    case Kind::reply_dropped:
    case Kind::exchange_silent:
        if (!m_link_ok)
            m_values.break_run();
        break;
    }
    judge(event.mono_ms);
}

void WeighingWatch::judge(std::int64_t now_ms)
{
    const MotionReading reading = m_values.reading(now_ms, m_link_ok);
    if (same(reading, m_reading))
        return;
    m_reading = reading;
    emit reading_changed(m_reading);
}

void WeighingWatch::sent(const ModuleEvent& event)
{
    const auto kind = kind_of(event.command.leixing);
    // A request the port did not take never reaches the module: the check
    // waits for the next one.
    if (!kind || !m_check || m_check->kind != *kind || m_check->sent_ms != 0 || event.unsent)
        return;
    judge(event.mono_ms);
    m_check->when_sent = m_reading.motion;
    m_check->sent_ms = event.mono_ms;
}

void WeighingWatch::acknowledged(const ModuleEvent& event)
{
    const WeighingCheck::Kind kind = *kind_of(event.type);
    // An acknowledgement of what this window did not send (or a second one)
    // is checked all the same, against the value the module names.
    if (!m_check || m_check->kind != kind || m_check->sent_ms == 0 || m_watching) {
        if (m_check)
            finish(WeighingCheck::Result::abandoned, event.mono_ms);
        WeighingCheck check;
        check.kind = kind;
        check.weight_before = m_reading.latest;
        check.target = kind == WeighingCheck::Kind::calibration ? event.value : 0;
        m_check = check;
    }
    m_check->tolerance = check_tolerance(m_check->target, rule().band);
    m_check->acknowledged_ms = event.mono_ms;
    m_watching = true;
    m_deadline->start();
    qCDebug(lc_weighing) << "checking" << (kind == WeighingCheck::Kind::zero ? "zero" : "calibration") << "against"
                         << m_check->target << "±" << m_check->tolerance;
}

void WeighingWatch::weight_arrived(const ModuleEvent& event)
{
    m_values.add(event.mono_ms, event.value);
    if (!m_watching)
        return;
    judge(event.mono_ms);
    if (settled_on(m_reading, m_check->target, m_check->tolerance))
        finish(WeighingCheck::Result::confirmed, event.mono_ms);
}

void WeighingWatch::finish(WeighingCheck::Result result, std::int64_t now_ms)
{
    if (!m_check)
        return;
    m_deadline->stop();
    WeighingCheck check = *m_check;
    m_check.reset();
    m_watching = false;
    check.result = result;
    check.weight_after = m_reading.latest;
    check.finished_ms = now_ms;
    static constexpr const char* results[] = {"confirmed", "off target", "abandoned"};
    qCDebug(lc_weighing) << "check" << results[static_cast<int>(result)] << "at weight"
                         << check.weight_after.value_or(0);
    emit check_finished(check);
}

}  // namespace pondara
