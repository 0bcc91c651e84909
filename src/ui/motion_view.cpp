#include "ui/motion_view.h"

#include "ui/link_view.h"

namespace pondara {

namespace {

QString seconds(std::int64_t ms) { return QString::number(static_cast<double>(ms) / 1000.0); }

QString tolerance_text(double tolerance) { return QString::number(tolerance, 'g', 6); }

}  // namespace

QString motion_text(Motion motion)
{
    switch (motion) {
    case Motion::stable:
        return QStringLiteral("稳定");
    case Motion::moving:
        return QStringLiteral("波动");
    case Motion::unknown:
        break;
    }
    return {};
}

QColor motion_colour(Motion motion)
{
    switch (motion) {
    case Motion::stable:
        return link_state_colour(LinkHealth::State::ok);
    case Motion::moving:
        return link_state_colour(LinkHealth::State::bad_data);
    case Motion::unknown:
        break;
    }
    return stale_colour();
}

QString motion_tooltip(const MotionRule& rule, const MotionReading& reading)
{
    const QString rule_text
        = QStringLiteral("最近 %1 秒内至少 %2 个重量值相差不超过 %3（最大值 − 最小值 ≤ %3）为“稳定”，否则为“波动”；"
                         "不足 %2 个值、读数已过时或通信不正常时不作判断。置零和标定宜在“稳定”时进行。")
              .arg(seconds(rule.time_ms))
              .arg(MotionRule::count)
              .arg(rule.band);
    const QString now = reading.count == 0 ? QStringLiteral("当前：没有重量值")
                                           : QStringLiteral("当前：%1 个值，最小 %2，最大 %3")
                                                 .arg(reading.count)
                                                 .arg(reading.minimum)
                                                 .arg(reading.maximum);
    return rule_text + QStringLiteral("\n\n") + now;
}

QString weight_text(const std::optional<std::uint32_t>& weight)
{
    return weight ? QString::number(*weight) : QStringLiteral("—");
}

QString check_text(const WeighingCheck& check)
{
    using Kind = WeighingCheck::Kind;
    using Result = WeighingCheck::Result;
    switch (check.result) {
    case Result::confirmed:
        return check.kind == Kind::zero ? QStringLiteral("零点已确认") : QStringLiteral("标定已确认");
    case Result::off_target:
        if (check.kind == Kind::zero)
            return QStringLiteral("置零后未回零：当前 %1").arg(weight_text(check.weight_after));
        return QStringLiteral("标定后读数偏差：输入 %1，读数 %2")
            .arg(check.target)
            .arg(weight_text(check.weight_after));
    case Result::abandoned:
        break;
    }
    return {};
}

QString check_hint(const WeighingCheck& check)
{
    using Kind = WeighingCheck::Kind;
    const QString window = seconds(WeighingCheck::watch_ms);
    const QString tolerance = tolerance_text(check.tolerance);
    switch (check.result) {
    case WeighingCheck::Result::confirmed:
        if (check.kind == Kind::zero)
            return QStringLiteral("空秤读数已稳定在 0（±%1）。下一步：放上已知重量的砝码，按“标定”。").arg(tolerance);
        return QStringLiteral("读数已稳定在输入的 %1（±%2）。可以取下砝码，开始称重。")
            .arg(check.target)
            .arg(tolerance);
    case WeighingCheck::Result::off_target:
        if (check.kind == Kind::zero)
            return QStringLiteral("模块回答了置零，但 %1 秒内读数没有稳定在 0（±%2）。请清空秤台，"
                                  "待“稳定”后再按“置零”。")
                .arg(window, tolerance);
        return QStringLiteral("模块回答了标定，但 %1 秒内读数没有稳定在输入的 %2（±%3）。请确认秤台上正是这个砝码、"
                              "待“稳定”后再标定一次。")
            .arg(window)
            .arg(check.target)
            .arg(tolerance);
    case WeighingCheck::Result::abandoned:
        break;
    }
    return {};
}

QString check_audit(const WeighingCheck& check)
{
    using Result = WeighingCheck::Result;
    const bool zero = check.kind == WeighingCheck::Kind::zero;
    QString text = zero ? QStringLiteral("置零") : QStringLiteral("标定 %1").arg(check.target);
    switch (check.result) {
    case Result::confirmed:
        text += QStringLiteral(" 已确认：");
        break;
    case Result::off_target:
        text += zero ? QStringLiteral(" 未回零：") : QStringLiteral(" 读数偏差：");
        break;
    case Result::abandoned:
        text += QStringLiteral(" 未完成（端口已关闭，或又一次置零、标定）：");
        break;
    }
    // The target holds from the acknowledgement on.
    if (check.acknowledged_ms != 0)
        text += QStringLiteral("目标 %1±%2，").arg(check.target).arg(tolerance_text(check.tolerance));
    text += QStringLiteral("之前 %1，之后 %2；").arg(weight_text(check.weight_before), weight_text(check.weight_after));
    const auto judged = [](Motion motion) {
        const QString word = motion_text(motion);
        return word.isEmpty() ? QStringLiteral("无判断") : word;
    };
    if (check.clicked_ms == 0)
        return text + QStringLiteral("请求不是本窗口发出的");
    text += QStringLiteral("点击时 ") + judged(check.at_click) + QStringLiteral("，发送时 ");
    return text + (check.sent_ms == 0 ? QStringLiteral("未发送") : judged(check.when_sent));
}

}  // namespace pondara
