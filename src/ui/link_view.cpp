#include "ui/link_view.h"

#include "ui/look.h"

#include <QDateTime>
#include <QLabel>

namespace pondara {

QString link_state_text(LinkHealth::State state)
{
    switch (state) {
    case LinkHealth::State::ok:
        return QStringLiteral("通信正常");
    case LinkHealth::State::no_reply:
        return QStringLiteral("模块无应答");
    case LinkHealth::State::bad_data:
        return QStringLiteral("数据错误");
    case LinkHealth::State::closed:
    case LinkHealth::State::pending:
        break;
    }
    return {};
}

QColor link_state_colour(LinkHealth::State state)
{
    switch (state) {
    case LinkHealth::State::ok:
        return QColor(0x1e, 0x7b, 0x34);
    case LinkHealth::State::bad_data:
        return QColor(0xb3, 0x5c, 0x00);
    case LinkHealth::State::no_reply:
    case LinkHealth::State::closed:
    case LinkHealth::State::pending:
        break;
    }
    return stale_colour();
}

QColor stale_colour() { return QColor(0x6d, 0x6d, 0x6d); }

QString link_hint(LinkHealth::State state, const LinkPlace& place)
{
    switch (state) {
    case LinkHealth::State::no_reply:
        return QStringLiteral("串口已打开，但模块没有应答。请检查：模块地址（当前 %1）、串口号（当前 %2 → %3）、"
                              "接线（485 的 A/B）、模块电源。")
            .arg(place.address.trimmed())
            .arg(place.port_number)
            .arg(place.device);
    case LinkHealth::State::bad_data:
        return QStringLiteral("收到的数据无法识别：请检查波特率（9600）、接线和干扰。");
    case LinkHealth::State::ok:
    case LinkHealth::State::closed:
    case LinkHealth::State::pending:
        break;
    }
    return {};
}

QString link_counters(const LinkHealth::Counters& counters)
{
    const QString last
        = counters.last_accepted_ms
              ? QDateTime::fromMSecsSinceEpoch(*counters.last_accepted_ms).toString(QStringLiteral("HH:mm:ss.zzz"))
              : QStringLiteral("无");
    return QStringLiteral("打开串口以来：请求 %1 次（未能发出 %8 次），有效应答 %2 次，无应答 %3 次\n"
                          "丢弃的应答：帧头错误 %4 次，校验错误 %5 次，不完整 %6 次\n"
                          "最后一次有效应答：%7")
        .arg(counters.requests)
        .arg(counters.accepted)
        .arg(counters.no_reply)
        .arg(counters.bad_header)
        .arg(counters.bad_checksum)
        .arg(counters.too_short)
        .arg(last)
        .arg(counters.unsent);
}

void show_status(QLabel* label, const QString& text, const QColor& colour)
{
    look::set_text_colour(label, colour);
    if (label->text() == text)
        return;
    label->setText(text);
    label->setAccessibleName(text);
}

}  // namespace pondara
