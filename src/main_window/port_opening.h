#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace pondara {

class PortObject;

// Opens `port` on the number typed in the port number box, the same steps
// for every window: convert the text, set CommPort, open, set RThreshold
// to 8. Returns the message for the operator when it fails; the port then
// stays closed. `existing` lists the machine's ports for that message.
std::optional<QString> open_numbered_port(PortObject& port, const QString& number_text, const QString& box_caption,
                                          const QStringList& existing);

}  // namespace pondara
