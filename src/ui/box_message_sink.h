#pragma once

#include "ui/message_sink.h"

namespace pondara {

// Shows each message in a modal box with an OK button only, no icon and the
// application's title. The box is opened from the event loop after the
// handler that posted it has returned, and it does not block: the timer and
// the serial port go on while it is open.
class BoxMessageSink final : public MessageSink {
public:
    void post(QWidget* origin, const QString& text) override;
};

}  // namespace pondara
