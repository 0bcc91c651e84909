#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace pondara::sim {

// Reads standard input line by line on the event loop without blocking it.
// At end of input it stops watching and says so once; the program goes on.
class StdinLines : public QObject {
    Q_OBJECT

public:
    explicit StdinLines(QObject* parent = nullptr);

signals:
    void line_read(const QString& line);
    void closed();

private:
    void read_some();
    void finish();

    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_pending;
};

}  // namespace pondara::sim
