#pragma once

#include "weighing/motion.h"
#include "weighing/result_check.h"

#include <QColor>
#include <QString>

namespace pondara {

// "稳定", "波动", and nothing when the weight cannot be judged.
QString motion_text(Motion motion);

// Green, orange, and the grey of a stale readout.
QColor motion_colour(Motion motion);

// The rule in one sentence, then what the reading was judged on.
QString motion_tooltip(const MotionRule& rule, const MotionReading& reading);

// A weight value as the operator sees it: its digits, or "—" for none.
QString weight_text(const std::optional<std::uint32_t>& weight);

// The status line after a check: "零点已确认", "置零后未回零：当前 N", "标定已确认"
// or "标定后读数偏差：输入 X，读数 N"; nothing for an abandoned check.
QString check_text(const WeighingCheck& check);
// What to do next, for the status line's tooltip.
QString check_hint(const WeighingCheck& check);
// The check as a recording keeps it: the command, the outcome, the target
// and the weight before and after, and the stability at the click and when
// the request went out ("置零 已确认：目标 0±1，之前 37，之后 0；点击时 波动，发送时 稳定").
QString check_audit(const WeighingCheck& check);

}  // namespace pondara
