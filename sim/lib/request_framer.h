#pragma once

#include "protocol/packet.h"

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace pondara::sim {

// Cuts the byte stream a module receives into request frames. Bytes before a
// request header are skipped; a frame of 8 bytes with a wrong checksum loses
// only its first byte, so that a good frame that starts inside it is still
// found. Frames for any address come out: the address is the module's call.
class RequestFramer {
public:
    // Appends `bytes` and returns every complete, well-formed frame, in order.
    std::vector<Packet> push(QByteArrayView bytes);

    // Bytes held back as the start of a frame that is not complete yet.
    qsizetype pending() const { return m_buffer.size(); }

    // Bytes dropped while looking for a good frame.
    quint64 discarded() const { return m_discarded; }

private:
    QByteArray m_buffer;
    quint64 m_discarded = 0;
};

}  // namespace pondara::sim
