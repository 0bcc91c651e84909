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

}  // namespace pondara
