#include "hex.h"

#include <QTest>

#include <algorithm>

namespace pondara::test {

QByteArray hex_bytes(const char* spaced_hex) { return QByteArray::fromHex(QByteArray(spaced_hex).replace(' ', "")); }

Packet hex_packet(const char* spaced_hex)
{
    const QByteArray bytes = hex_bytes(spaced_hex);
    Packet packet {};
    if (bytes.size() != 8) {
        qFatal("hex_packet: need 8 bytes, got %lld in \"%s\"", static_cast<long long>(bytes.size()), spaced_hex);
    }
    for (int i = 0; i < 8; ++i)
        packet[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bytes[i]);
    return packet;
}

RxBuf hex_rx_buf(const char* spaced_hex)
{
    const Packet packet = hex_packet(spaced_hex);
    RxBuf rx_buf {};
    std::copy(packet.begin(), packet.end(), rx_buf.begin());
    return rx_buf;
}

QString spaced_hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

QString spaced_hex(const Packet& packet)
{
    return spaced_hex(QByteArray(reinterpret_cast<const char*>(packet.data()), 8));
}

}  // namespace pondara::test
