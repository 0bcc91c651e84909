#include "main_window/port_opening.h"

#include "serial/module_link.h"
#include "ui/messages.h"

namespace pondara {

std::optional<QString> open_numbered_port(ModuleLink& link, const QString& number_text, const QString& box_caption,
                                          const QStringList& existing)
{
    const auto number = text_to_int16(number_text);
    if (!number) {
        return messages::conversion_failed(box_caption, number_text, number.error(),
                                           QStringLiteral("本机串口的编号（1、2、3……）"));
    }
    if (const auto failure = link.open(number.value()))
        return messages::open_failed(number.value(), *failure, existing);
    return std::nullopt;
}

}  // namespace pondara
