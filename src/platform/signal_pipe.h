#pragma once

#include <QObject>

#include <csignal>
#include <initializer_list>
#include <vector>

class QSocketNotifier;

namespace pondara {

// Turns POSIX signals into a Qt signal on the event loop: the handler does
// nothing but write the signal number into a pipe, whose other end a socket
// notifier watches. A signal that was ignored when the instance was made
// stays ignored: whoever started the program asked for that (SIGHUP under
// nohup, SIGINT in a shell's background job). One instance at a time; it
// puts back the handlers it replaced when destroyed.
class SignalPipe : public QObject {
    Q_OBJECT

public:
    explicit SignalPipe(std::initializer_list<int> signal_numbers, QObject* parent = nullptr);
    ~SignalPipe() override;

    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    // False if the pipe or a handler could not be set up.
    bool ok() const { return m_ok; }

signals:
    void received(int signal_number);

private:
    void drain();

    int m_read_end = -1;
    int m_write_end = -1;
    QSocketNotifier* m_notifier = nullptr;
    struct Replaced {
        int signal_number;
        struct sigaction previous;
    };
    std::vector<Replaced> m_replaced;
    bool m_ok = false;
};

}  // namespace pondara
