#include "recording_sink.h"

#include <QStringList>
#include <QWidget>

namespace pondara::test {

void RecordingSink::post(QWidget* origin, const QString& text)
{
    m_messages.append({origin ? origin->objectName() : QString(), text});
}

QStringList RecordingSink::texts() const
{
    QStringList texts;
    for (const Message& message : m_messages)
        texts.append(message.text);
    return texts;
}

}  // namespace pondara::test
