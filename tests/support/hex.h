#pragma once

#include "protocol/packet.h"

#include <QByteArray>
#include <QString>

namespace pondara::test {

// "55 01 01 00 00 00 00 57" -> bytes. Test vectors are written out by hand
// in this form so that they never come from the code under test.
QByteArray hex_bytes(const char* spaced_hex);
Packet hex_packet(const char* spaced_hex);
RxBuf hex_rx_buf(const char* spaced_hex);
QString spaced_hex(const QByteArray& bytes);
QString spaced_hex(const Packet& packet);

}  // namespace pondara::test
