#include "run_until.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

namespace pondara::test {

bool run_until(const std::function<bool()>& done, int timeout_ms)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake;  // so that each wait below ends by the timeout at the latest
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!done()) {
        const qint64 left = timeout_ms - clock.elapsed();
        if (left <= 0)
            return false;
        wake.start(static_cast<int>(left));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void run_for(int ms)
{
    run_until([] { return false; }, ms);
}

namespace {

class SocketActivationCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::SockAct)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

int socket_activations_during(int ms)
{
    SocketActivationCounter counter;
    QCoreApplication::instance()->installEventFilter(&counter);
    run_for(ms);
    QCoreApplication::instance()->removeEventFilter(&counter);
    return counter.count;
}

}  // namespace pondara::test
