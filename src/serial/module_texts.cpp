#include "serial/module_texts.h"

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

}  // namespace pondara
