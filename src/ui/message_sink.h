#pragma once

#include <QString>

class QWidget;

namespace pondara {

// Where windows send what the operator must read. Windows never open a box
// themselves: the program's sink posts a box to the event loop, tests record
// the text.
class MessageSink {
public:
    virtual ~MessageSink() = default;

    // `origin` is the window the message belongs to; a box opened for it
    // goes when that window goes.
    virtual void post(QWidget* origin, const QString& text) = 0;
};

}  // namespace pondara
