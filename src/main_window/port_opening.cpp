#include "main_window/port_opening.h"

#include "main_window/messages.h"
#include "serial/frame_sender.h"
#include "serial/port_object.h"

namespace pondara {

std::optional<QString> open_numbered_port(PortObject& port, const QString& number_text, const QString& box_caption,
                                          const QStringList& existing)
{
    const auto number = text_to_int16(number_text);
    if (!number) {
        return messages::conversion_failed(box_caption, number_text, number.error(),
                                           QStringLiteral("本机串口的编号（1、2、3……）"));
    }
    port.setCommPort(number.value());
    if (const auto failure = port.setPortOpen(true))
        return messages::open_failed(number.value(), *failure, existing);
    port.setRThreshold(8);
    return std::nullopt;
}

}  // namespace pondara
