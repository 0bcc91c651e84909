#pragma once

#include "protocol/packet.h"
#include "serial/link_health.h"
#include "trend/trend_history.h"
#include "trend/trend_source.h"

#include <QObject>

#include <cstdint>
#include <functional>

class QLineEdit;

namespace pondara {

class MainForm;
class MessageSink;

// The main window's side of the trend: records the values the window shows
// (and a gap while its port is closed or the module does not answer), and
// opens the trend window from the readouts (double-click, their context
// menu, tooltip) and by Ctrl+T. It sends nothing on the line.
class TrendHooks : public QObject, public TrendSource {
    Q_OBJECT

public:
    TrendHooks(MainForm& main_form, MessageSink& messages, QLineEdit* ad_now, QLineEdit* weight_now);

    // A new trend window, its code loaded on first use; nullptr when that
    // code cannot be loaded (the operator is told why).
    QWidget* make_window();

    const TrendHistory& history() const override { return m_history; }
    void clear_history() override { m_history.clear(); }
    std::int64_t now_ms() const override { return m_clock(); }

    // Tests stamp the history with a clock of their own.
    void set_clock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void take_value(Leixing type, std::uint32_t value);
    // A closed port or a module that does not answer breaks the curves.
    void take_link(LinkHealth::State state);

    MainForm& m_main_form;
    MessageSink& m_messages;
    QLineEdit* m_ad_now;
    QLineEdit* m_weight_now;
    TrendHistory m_history;
    std::function<std::int64_t()> m_clock;
};

}  // namespace pondara
