#pragma once

#include "serial/module_link.h"
#include "weighing/motion.h"
#include "weighing/result_check.h"

#include <QObject>

#include <optional>

class QTimer;

namespace pondara {

// Watches the weight values of the main window's link: whether the load is
// still, and whether each zero or calibration the module acknowledges really
// took (the weight settles on 0, or on the weight entered, within
// WeighingCheck::watch_ms). It only listens: it sends nothing and never
// delays or changes a request.
class WeighingWatch : public QObject {
    Q_OBJECT

public:
    WeighingWatch(ModuleLink& link, QObject* parent);

    // The rule of the command line; set before the port is first opened.
    void set_rule(const MotionRule& rule);
    const MotionRule& rule() const { return m_values.rule(); }

    // The verdict as of the last thing that happened on the link.
    const MotionReading& reading() const { return m_reading; }

    // A command was queued (the operator clicked): for a zero or a
    // calibration, notes the weight and its stability now, and ends the
    // check still running.
    void queued(const Command& command);

signals:
    void reading_changed(const pondara::MotionReading& reading);
    // A zero or calibration was queued: the last check's result is over.
    void check_started();
    // Every check's end, an abandoned one included, with what the audit of
    // it needs: result, weight before and after, the stability at the click
    // and when the request was sent.
    void check_finished(const pondara::WeighingCheck& check);

private:
    void take(const ModuleEvent& event);
    void judge(std::int64_t now_ms);
    void sent(const ModuleEvent& event);
    void acknowledged(const ModuleEvent& event);
    void weight_arrived(const ModuleEvent& event);
    void finish(WeighingCheck::Result result, std::int64_t now_ms);

    MotionWatch m_values;
    MotionReading m_reading;
    bool m_link_ok = false;
    // The zero or calibration asked for, from the click until its check ends.
    std::optional<WeighingCheck> m_check;
    bool m_watching = false;  // acknowledged: weight values now count
    QTimer* m_deadline = nullptr;
};

}  // namespace pondara
