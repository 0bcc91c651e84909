#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace pondara {

class ModuleLink;

// Opens the port of `link` on the number typed in the port number box, the
// same steps for every window: convert the text, then open with RThreshold
// at 8. Returns the message for the operator when it fails; the port then
// stays closed. `existing` lists the machine's ports for that message.
std::optional<QString> open_numbered_port(ModuleLink& link, const QString& number_text, const QString& box_caption,
                                          const QStringList& existing);

}  // namespace pondara
