#include "serial/module_texts.h"

#include <QByteArray>

#include <algorithm>

namespace pondara {

QString packet_hex(const Packet& bytes, int count)
{
    const auto size = std::clamp<qsizetype>(count, 0, static_cast<qsizetype>(bytes.size()));
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes.data()), size).toHex(' ').toUpper());
}

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

}  // namespace pondara
