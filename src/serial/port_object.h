#pragma once

#include "protocol/packet.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace pondara {

// Why a port could not be opened.
struct OpenFailure {
    enum class Reason : std::uint8_t {
        no_such_port,  // the number leads to no device
        not_a_device,  // the number's link leads to something that is not a serial device
        in_use,  // the device is already open, here or in another program
        stale_lock,  // held by the lock file of a process that is gone, which this user may not remove
        no_permission,  // the user may not open the device
        other,  // any other error of the device
        suspicious_lock,  // its lock file is a symbolic link or no regular file: left to be checked by hand
    };
    Reason reason = Reason::other;
    QString device;  // the device path, when the number led to one
    QString detail;  // the system's own words, for the message
    // With in_use, stale_lock and suspicious_lock: the lock file (its folder's
    // links resolved), and the program and process that hold it, where known.
    QString lock_file = {};
    QString lock_program = {};
    qint64 lock_pid = 0;
};

// Why an open port was lost, with the device and the system's own words.
// The operator's sentence is made from it where messages are made.
struct PortLoss {
    enum class Reason : std::uint8_t {
        hung_up,  // the line hung up: the device was unplugged or closed
        removed,  // the device is no longer there
        read_error,  // reading failed
        write_error,  // writing failed
        other,  // any other error of the device
    };
    Reason reason = Reason::other;
    QString device;
    QString detail;  // the system's own words; empty for a hang-up
};

// The serial port object a window owns. Its operations are named after the
// properties of the classic serial control the program was designed around:
// CommPort, PortOpen, RThreshold, InBufferCount, Output, Input, CommEvent and
// the OnComm notification. The configuration is fixed: 9600 baud, 8 data
// bits, no parity, 1 stop bit, no flow control, 1024-byte receive buffer.
class PortObject : public QObject {
    Q_OBJECT

public:
    // CommEvent value: bytes received and the receive threshold reached.
    static constexpr std::int16_t com_ev_receive = 2;

    using QObject::QObject;

    // CommPort: the port number the next opening uses.
    virtual void setCommPort(std::int16_t number) = 0;
    virtual std::int16_t commPort() const = 0;

    // PortOpen. Opening returns why it failed, if it did; closing a closed
    // port does nothing.
    virtual bool portOpen() const = 0;
    virtual std::optional<OpenFailure> setPortOpen(bool open) = 0;

    // RThreshold: OnComm is raised while at least this many bytes wait.
    virtual void setRThreshold(std::int16_t bytes) = 0;

    // InBufferCount := 0: discard every received byte not yet read.
    virtual void clearInBuffer() = 0;
    virtual int inBufferCount() const = 0;

    // Output: the 8 bytes as one block. False when the block was not sent:
    // the port is closed, or the device takes no more data for now (its
    // output queue is full); the block is then dropped whole.
    virtual bool setOutput(const Packet& bytes) = 0;

    // Input: removes and returns the oldest waiting byte, or nothing when
    // no byte waits.
    virtual std::optional<std::uint8_t> input() = 0;

    // CommEvent: the reason for the current OnComm.
    virtual std::int16_t commEvent() const = 0;

    // The device the open port is on (empty while closed).
    virtual QString deviceName() const = 0;

signals:
    // OnComm: raised with commEvent() == com_ev_receive when at least
    // RThreshold bytes are waiting, and again after the handler returns
    // while that many are still waiting.
    void onComm();

    // The device was lost or failed while open (unplugged, hang-up, read or
    // write error). The port is already closed when this is emitted, and it
    // is emitted once per loss.
    void lost(const pondara::PortLoss& loss);
};

// Makes the port objects for the windows: the real one over QSerialPort in
// the program, a fake in window tests.
using PortFactory = std::function<std::unique_ptr<PortObject>()>;

}  // namespace pondara
