#pragma once

#include "serial/module_link.h"
#include "trend_data/trend_history.h"
#include "trend_data/trend_source.h"

#include <QObject>

#include <cstdint>
#include <functional>

namespace pondara {

class MessageSink;
class WeighingWatch;

// The main window's trend: records the values its link accepts (and a gap
// while the port is closed or the module does not answer), and makes the
// trend window from its module, loaded on first use. It sends nothing on the
// line.
class TrendFeed : public QObject, public TrendSource {
    Q_OBJECT

public:
    TrendFeed(ModuleLink& link, const WeighingWatch& weighing, QObject* parent);

    // A new trend window; nullptr when its module cannot be loaded, and then
    // `messages` tells the operator why, for `window`.
    QWidget* make_window(MessageSink& messages, QWidget* window);

    const TrendHistory& history() const override { return m_history; }
    void clear_history() override { m_history.clear(); }
    std::int64_t now_ms() const override { return m_clock(); }
    MotionRule motion_rule() const override;
    bool link_ok() const override;

    // Tests stamp the history with a clock of their own.
    void set_clock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }

private:
    void take(const ModuleEvent& event);

    const ModuleLink& m_link;
    const WeighingWatch& m_weighing;
    TrendHistory m_history;
    std::function<std::int64_t()> m_clock;
};

}  // namespace pondara
