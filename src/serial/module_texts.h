#pragma once

#include "protocol/packet.h"
#include "serial/link_health.h"

#include <QString>

namespace pondara {

// What the operator reads of the link and of the module's confirmations: the
// same words on the screen and in a recording.

// "通信正常", "模块无应答", "数据错误", and nothing while the port is closed
// or too little has been sent to judge.
QString link_state_text(LinkHealth::State state);

// The first `count` bytes of a packet as the trace, a recording and a
// published event show them: "55 01 03 00 00 00 00 59".
QString packet_hex(const Packet& bytes, int count = 8);

namespace messages {
inline const QString zero_done = QStringLiteral("零点设置成功");
inline const QString calibration_done = QStringLiteral("标定成功");
}  // namespace messages

}  // namespace pondara
