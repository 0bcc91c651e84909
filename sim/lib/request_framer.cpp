#include "request_framer.h"

#include <algorithm>

namespace pondara::sim {

std::vector<Packet> RequestFramer::push(QByteArrayView bytes)
{
    m_buffer.append(bytes);
    std::vector<Packet> frames;
    const qsizetype size = m_buffer.size();
    qsizetype pos = 0;
    while (pos < size) {
        const qsizetype header = m_buffer.indexOf(static_cast<char>(request_header), pos);
        if (header < 0) {
            m_discarded += static_cast<quint64>(size - pos);
            pos = size;
            break;
        }
        m_discarded += static_cast<quint64>(header - pos);
        pos = header;
        if (size - pos < static_cast<qsizetype>(Packet {}.size()))
            break;
        Packet frame {};
        std::copy_n(m_buffer.constData() + pos, frame.size(), frame.begin());
        if (request_ok(frame)) {
            frames.push_back(frame);
            pos += static_cast<qsizetype>(frame.size());
        } else {
            ++m_discarded;
            ++pos;
        }
    }
    m_buffer.remove(0, pos);
    return frames;
}

}  // namespace pondara::sim
