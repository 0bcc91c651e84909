#pragma once

#include "serial/comm_event_pump.h"
#include "serial/port_object.h"
#include "serial/port_resolver.h"

#include <QSerialPort>

#include <cstdint>
#include <optional>

class QSocketNotifier;

namespace pondara {

// The port object over QSerialPort: 9600 baud, 8 data bits, no parity, 1
// stop bit, no flow control, 1024-byte receive buffer. DTR and RTS are left
// alone (a pseudo-terminal refuses them).
//
// Opening resolves the number to a device (PortResolver), resolves links, and
// refuses anything but a character device before opening or writing
// anything. A device is open at most once: within the program by our own
// record of open devices, across programs by the lock file in /var/lock,
// which is named after the device path and is honoured also for root (the
// kernel's exclusive mode is not). Another program's lock file, in any of
// the usual formats (see DeviceLock), is read before Qt sees it: while the
// process it names runs, the device is refused as in use and the file left
// as it is. A lock of a process that is gone (or whose id another program
// now has) is taken over where this user may remove it, and otherwise
// reported as a stale lock; a lock file that is a link or no regular file is
// never touched.
//
// A full output queue is no error: the request is dropped (setOutput()
// returns false). Any error of the open device other than that, a timeout or
// an unsupported setting counts as its loss, and so does a hang-up, which not
// every Qt reports (see watch_for_hang_up()): the port is closed at once, and
// lost() follows from the event loop, once.
//
// The terminal's VMIN carries the receive threshold into the driver, so that
// the event loop wakes once a reply is complete rather than at each of its
// bytes (see sync_driver_threshold()).
class QtPortObject final : public PortObject {
    Q_OBJECT

public:
    explicit QtPortObject(QObject* parent = nullptr);
    // Numbers ports under the given folders rather than the system's.
    explicit QtPortObject(PortResolver::Roots roots, QObject* parent = nullptr);
    ~QtPortObject() override;

    QtPortObject(const QtPortObject&) = delete;
    QtPortObject& operator=(const QtPortObject&) = delete;

    void setCommPort(std::int16_t number) override;
    std::int16_t commPort() const override;
    bool portOpen() const override;
    std::optional<OpenFailure> setPortOpen(bool open) override;
    void setRThreshold(std::int16_t bytes) override;
    void clearInBuffer() override;
    int inBufferCount() const override;
    bool setOutput(const Packet& bytes) override;
    std::optional<std::uint8_t> input() override;
    std::int16_t commEvent() const override;
    QString deviceName() const override;

private:
    std::optional<OpenFailure> open();
    OpenFailure open_failure(const QString& device) const;
    void close_device();
    void sync_driver_threshold();
    void on_ready_read();
    void on_error(QSerialPort::SerialPortError error);
    void watch_for_hang_up();
    void lose(const PortLoss& loss);
    PortLoss loss_reason(QSerialPort::SerialPortError error) const;

    std::optional<PortResolver::Roots> m_roots;
    QSerialPort* m_port;  // child; see the destructor
    QSocketNotifier* m_hang_up_watch;  // child, on m_hang_up_fd while open
    int m_hang_up_fd = -1;  // the epoll set watching the open device for a hang-up
    CommEventPump m_pump;
    QString m_device;  // canonical path while open
    std::uint64_t m_session = 0;  // counts openings, so a late loss notice of an earlier one is dropped
    int m_dispatching = 0;  // > 0 while inside the QSerialPort's readyRead
    std::int16_t m_comm_port = 1;
    std::int16_t m_threshold = 0;
    int m_driver_min = -1;  // VMIN as last set on the open device; -1: not set
    std::int16_t m_comm_event = 0;
    bool m_open = false;
};

}  // namespace pondara
