#pragma once

#include "ui/message_sink.h"

#include <QList>
#include <QString>

namespace pondara::test {

// A message sink that keeps every message instead of showing a box.
class RecordingSink final : public MessageSink {
public:
    struct Message {
        QString origin;  // object name of the window the message is for
        QString text;
    };

    void post(QWidget* origin, const QString& text) override;

    const QList<Message>& messages() const { return m_messages; }
    QStringList texts() const;
    void clear() { m_messages.clear(); }

private:
    QList<Message> m_messages;
};

}  // namespace pondara::test
