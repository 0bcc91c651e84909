#pragma once

#include "protocol/number_conversion.h"
#include "serial/port_object.h"

#include <QString>
#include <QStringList>

namespace pondara {

// Texts the operator reads in message boxes.
namespace messages {

inline const QString zero_done = QStringLiteral("零点设置成功");
inline const QString calibration_done = QStringLiteral("标定成功");

// Error numbers shown with each error message.
enum class ErrorNumber : int {
    overflow = 6,
    type_mismatch = 13,
    no_such_port = 8002,
    not_a_device = 8003,
    port_in_use = 8005,
    stale_lock = 8006,
    suspicious_lock = 8007,
    device_error = 8010,
    no_permission = 8015,
    port_not_open = 8018,
    connection_lost = 8020,
};

// "错误 13：类型不匹配" followed by the description on the next line.
QString error(ErrorNumber number, const QString& description);

// A box's text that did not convert: names the box, quotes the text (elided
// when long) and says which values the box takes.
QString conversion_failed(const QString& box_caption, const QString& text, ConversionError error,
                          const QString& allowed);

// The module address box's text that did not convert, at a send.
QString address_failed(const QString& text, ConversionError error);

// A port that could not be opened. `existing` lists the ports of this
// machine ("1 = /dev/ttyUSB0", ...), shown when the number leads nowhere.
QString open_failed(int port_number, const OpenFailure& failure, const QStringList& existing);

// An open port whose device went away or failed.
QString connection_lost(int port_number, const PortLoss& loss);

// The scan's status line: a port it skipped and why, in a few words
// ("串口 2（/dev/pts/5）：已被占用，跳过").
QString port_skipped(int port_number, const OpenFailure& failure);
// Bytes on a scanned port that formed no reply.
QString stray_bytes(int port_number, const QString& device, int count);

// A text as it is quoted in a message: control characters shown as blanks
// and at most 40 characters.
QString quoted(const QString& text);

}  // namespace messages
}  // namespace pondara
