#include "serial/qt_port_object.h"

#include "serial/device_lock.h"
#include "serial/logging.h"
#include "serial/open_devices.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace pondara {

namespace {

constexpr qint64 read_buffer_size = 1024;

}  // namespace

QtPortObject::QtPortObject(QObject* parent)
    : PortObject(parent),
      m_port(new QSerialPort(this)),
      m_hang_up_watch(new QSocketNotifier(QSocketNotifier::Read, this))
{
    m_port->setReadBufferSize(read_buffer_size);
    m_hang_up_watch->setEnabled(false);
    connect(m_port, &QSerialPort::readyRead, this, &QtPortObject::on_ready_read);
    connect(m_port, &QSerialPort::errorOccurred, this, &QtPortObject::on_error);
    connect(m_hang_up_watch, &QSocketNotifier::activated, this, [this] {
        if (m_open)
            lose(loss_reason(QSerialPort::ResourceError));
    });
}

QtPortObject::QtPortObject(PortResolver::Roots roots, QObject* parent) : QtPortObject(parent)
{
    m_roots = std::move(roots);
}

QtPortObject::~QtPortObject()
{
    m_port->disconnect(this);
    close_device();
    if (m_dispatching > 0) {
        // Destroyed by an OnComm handler: the QSerialPort is still inside its
        // readyRead emission and touches itself when that returns, so it is
        // deleted from the event loop instead of with this object.
        m_port->setParent(nullptr);
        m_port->deleteLater();
    }
}

void QtPortObject::setCommPort(std::int16_t number) { m_comm_port = number; }

std::int16_t QtPortObject::commPort() const { return m_comm_port; }

bool QtPortObject::portOpen() const { return m_open; }

std::optional<OpenFailure> QtPortObject::setPortOpen(bool open)
{
    if (!open) {
        close_device();
        return std::nullopt;
    }
    if (m_open)
        return std::nullopt;
    return this->open();
}

std::optional<OpenFailure> QtPortObject::open()
{
    close_device();  // whatever is left of a lost device

    // The system folders are looked up only when no others were given.
    const PortResolver resolver = m_roots ? PortResolver(*m_roots) : PortResolver();
    const auto resolved = resolver.resolve(m_comm_port);
    if (const auto* failure = std::get_if<OpenFailure>(&resolved))
        return *failure;
    const QString device = std::get<PortTarget>(resolved).device;

    if (device_open_here(device))
        return OpenFailure {OpenFailure::Reason::in_use, device,
                            QStringLiteral("%1 is already open in this program").arg(device)};

    // Qt takes a lock file it judges stale over, and judges one without its
    // own program line stale: the lock of a terminal program that has the
    // device open would go. So the lock is read here first, and Qt is only
    // let near it when nobody holds it.
    const DeviceLock lock = read_device_lock(device);
    if (lock.holder == DeviceLock::Holder::running || lock.holder == DeviceLock::Holder::suspicious)
        return lock_failure(device, lock);
    remove_stale_lock(lock);

    m_port->setPortName(device);
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    bool opened = m_port->open(QIODevice::ReadWrite);
    // A holder that ended after the first look is taken over now.
    if (!opened && m_port->error() == QSerialPort::PermissionError && remove_stale_lock(read_device_lock(device)))
        opened = m_port->open(QIODevice::ReadWrite);
    if (!opened)
        return open_failure(device);

    note_device_opened(device);
    m_device = device;
    m_open = true;
    m_comm_event = 0;
    ++m_session;
    m_driver_min = -1;  // Qt's own settings: VMIN 0, readable from the first byte
    sync_driver_threshold();
    watch_for_hang_up();
    return std::nullopt;
}

// A hang-up (the adapter pulled, the other end of a pseudo-terminal closed)
// leaves a terminal whose read() returns 0 at once, forever, and whose poll()
// reports POLLHUP and POLLERR. Qt 6.4 reports that as a ReadError; Qt 6.8
// takes the 0 for "nothing to read", reports nothing and keeps its read
// notifier armed, so the event loop spins. Neither tells while Qt's read
// buffer is full, when its notifier is off. So the hang-up is watched for
// apart from Qt: an epoll set holding the descriptor with no events asked
// for becomes readable on POLLHUP or POLLERR alone, never for data, and
// costs no wake-up while the line lives.
void QtPortObject::watch_for_hang_up()
{
    m_hang_up_fd = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event hang_up {};  // no events: hang-ups and errors are reported all the same
    if (m_hang_up_fd < 0 || ::epoll_ctl(m_hang_up_fd, EPOLL_CTL_ADD, m_port->handle(), &hang_up) != 0) {
        const int error = errno;
        qCWarning(lc_serial) << m_device << "hang-up watch not set:" << std::strerror(error);
        if (m_hang_up_fd >= 0)
            ::close(m_hang_up_fd);
        m_hang_up_fd = -1;
        return;
    }
    m_hang_up_watch->setSocket(m_hang_up_fd);
    m_hang_up_watch->setEnabled(true);
}

OpenFailure QtPortObject::open_failure(const QString& device) const
{
    const QString words = m_port->errorString();
    switch (m_port->error()) {
    case QSerialPort::DeviceNotFoundError:
        return {OpenFailure::Reason::no_such_port, device, words};
    case QSerialPort::PermissionError:
        // Qt reports a held lock, a device busy in exclusive mode and a
        // device the user may not open alike; only the last fails access().
        if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0)
            return {OpenFailure::Reason::no_permission, device, words};
        return lock_failure(device, read_device_lock(device), words);
    case QSerialPort::UnsupportedOperationError:
        // A character device that takes no serial settings: not a terminal.
        return {OpenFailure::Reason::not_a_device, device, words};
    default:
        return {OpenFailure::Reason::other, device, words};
    }
}

void QtPortObject::close_device()
{
    m_open = false;
    m_hang_up_watch->setEnabled(false);
    if (m_hang_up_fd >= 0) {
        ::close(m_hang_up_fd);
        m_hang_up_fd = -1;
    }
    if (m_port->isOpen())
        m_port->close();
    if (!m_device.isEmpty())
        note_device_closed(m_device);
    m_device.clear();
}

void QtPortObject::setRThreshold(std::int16_t bytes)
{
    m_threshold = bytes;
    sync_driver_threshold();
}

// Sets the terminal's VMIN (with VTIME 0) to the number of bytes OnComm still
// waits for: the threshold less the bytes Qt has already read into its own
// buffer, at least 1. poll() then reports the line readable only once that
// many bytes wait in the driver, so a reply paced byte by byte wakes the
// event loop once instead of eight times; reads are non-blocking and still
// return whatever is there, and a hang-up is reported whatever VMIN is.
//
// Why no OnComm is ever missed or late: QSerialPort reads everything the
// driver holds at each notification, so the bytes waiting are the sum of its
// buffer and the driver's, and this keeps VMIN at the difference to the
// threshold. It is called when that sum changes other than by arrivals:
// after opening, after a threshold change, after each round of OnComm
// handlers (which may leave bytes: 12 at once leave 4, and then 4 more must
// raise OnComm) and after each clearing of the input, that is, before every
// write, which empties both buffers. In the designed flow, one request and
// one 8-byte reply, VMIN therefore stays at the threshold and is set once per
// opening.
void QtPortObject::sync_driver_threshold()
{
    if (!m_open)
        return;
    const qint64 missing = static_cast<qint64>(m_threshold) - m_port->bytesAvailable();
    const int wanted = static_cast<int>(std::clamp<qint64>(missing, 1, 255));
    if (wanted == m_driver_min)
        return;
    const int fd = m_port->handle();
    termios settings {};
    int result = ::tcgetattr(fd, &settings);
    if (result == 0) {
        settings.c_cc[VMIN] = static_cast<cc_t>(wanted);
        settings.c_cc[VTIME] = 0;
        do
            result = ::tcsetattr(fd, TCSANOW, &settings);
        while (result != 0 && errno == EINTR);
    }
    if (result != 0) {
        // Left as it was: at worst the loop wakes for each byte, as with Qt's
        // own settings. Tried again at the next change.
        const int error = errno;
        qCDebug(lc_serial) << m_device << "VMIN" << wanted << "not set:" << std::strerror(error);
        m_driver_min = -1;
        return;
    }
    qCDebug(lc_serial) << m_device << "VMIN" << wanted;
    m_driver_min = wanted;
}

void QtPortObject::clearInBuffer()
{
    if (!m_open)
        return;
    // clear(Input) discards the driver's queue and Qt's buffer; skip() makes
    // sure of the latter.
    m_port->clear(QSerialPort::Input);
    // Clearing a line that has just hung up closes the port on the spot.
    if (m_port->isOpen())
        m_port->skip(m_port->bytesAvailable());
    m_pump.took_bytes();
    sync_driver_threshold();
}

int QtPortObject::inBufferCount() const
{
    if (!m_open)
        return 0;
    // Received and not yet read: what Qt has read into its buffer and what
    // still waits in the driver, where bytes short of VMIN stay.
    int in_driver = 0;
    if (::ioctl(m_port->handle(), TIOCINQ, &in_driver) != 0)
        in_driver = 0;
    return static_cast<int>(m_port->bytesAvailable()) + in_driver;
}

bool QtPortObject::setOutput(const Packet& bytes)
{
    if (!m_open)
        return false;
    // The rest of an earlier block still waits in Qt's queue: the driver has
    // taken nothing since. This one is dropped rather than queued behind it,
    // so that the queue holds less than one request and no request reaches
    // the module long after its time.
    if (m_port->bytesToWrite() > 0) {
        qCDebug(lc_serial) << m_device << "output still waiting: request dropped";
        return false;
    }
    const char* data = reinterpret_cast<const char*>(bytes.data());
    auto size = static_cast<qint64>(bytes.size());
    // The block goes to the driver with one write() of our own: QSerialPort's
    // write arms a write notifier until the driver has taken the block and
    // disarms it after, and each of the two wakes the event loop, twice per
    // request. An 8-byte block finds the driver's output queue empty at this
    // pace, so the write takes it whole.
    ssize_t written = 0;
    do
        written = ::write(m_port->handle(), data, static_cast<std::size_t>(size));
    while (written < 0 && errno == EINTR);
    if (written == size)
        return true;
    if (written > 0) {
        // The rest goes through Qt, whose write notifier sends it once the
        // driver has room.
        m_port->write(data + written, size - written);
        return true;
    }
    if (written == 0 || errno == EAGAIN) {
        // The driver's output queue is full: the device takes no data for
        // now (a USB module whose firmware stopped reading, a pseudo-terminal
        // nobody reads). The line is not lost; the request is dropped whole.
        qCDebug(lc_serial) << m_device << "output queue full: request dropped";
        return false;
    }
    // Any other error (EIO or ENXIO when the device is gone or hung up): Qt's
    // own write meets it too and reports it, which closes the port as lost.
    if (m_port->write(data, size) == size && m_open)
        m_port->flush();
    return m_open;
}

std::optional<std::uint8_t> QtPortObject::input()
{
    char byte = 0;
    if (!m_open || !m_port->getChar(&byte))
        return std::nullopt;
    m_pump.took_bytes();
    return static_cast<std::uint8_t>(byte);
}

std::int16_t QtPortObject::commEvent() const { return m_comm_event; }

QString QtPortObject::deviceName() const { return m_device; }

void QtPortObject::on_ready_read()
{
    if (!m_open)
        return;
    const QPointer<QtPortObject> alive(this);
    ++m_dispatching;
    m_comm_event = com_ev_receive;
    // Only the bytes in Qt's buffer count here: those still in the driver
    // cannot be read before Qt's next read notification.
    m_pump.run(*this, m_threshold, [this] { return static_cast<int>(m_port->bytesAvailable()); });
    if (!alive)
        return;
    --m_dispatching;
    sync_driver_threshold();  // the handlers may have left bytes
}

void QtPortObject::on_error(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::UnsupportedOperationError:
    case QSerialPort::TimeoutError:
        return;
    default:
        break;
    }
    // Errors while opening are reported by open(); after a loss, none count.
    if (!m_open)
        return;
    lose(loss_reason(error));
}

// Qt never closes a failed port itself (Qt 6.4 reports a hang-up as a
// ReadError on every event loop turn), so it is closed here, also inside
// QSerialPort's error signal: nothing in QSerialPort touches the descriptor
// or its notifiers after emitting an error. The handlers hear of it from the
// event loop, where they may safely reopen or destroy this object.
void QtPortObject::lose(const PortLoss& loss)
{
    close_device();
    QMetaObject::invokeMethod(
        this,
        [this, loss, session = m_session] {
            if (session == m_session && !m_open)
                emit lost(loss);
        },
        Qt::QueuedConnection);
}

PortLoss QtPortObject::loss_reason(QSerialPort::SerialPortError error) const
{
    // After a hang-up Qt's text is a stale errno (a read that returned
    // nothing sets none); the descriptor tells what happened.
    pollfd fd {m_port->handle(), POLLIN, 0};
    if (fd.fd >= 0 && ::poll(&fd, 1, 0) == 1 && (fd.revents & (POLLHUP | POLLERR)) != 0)
        return {PortLoss::Reason::hung_up, m_device, {}};
    PortLoss::Reason reason = PortLoss::Reason::other;
    switch (error) {
    case QSerialPort::ReadError:
        reason = PortLoss::Reason::read_error;
        break;
    case QSerialPort::WriteError:
        reason = PortLoss::Reason::write_error;
        break;
    case QSerialPort::ResourceError:
        reason = PortLoss::Reason::removed;
        break;
    default:
        break;
    }
    return {reason, m_device, m_port->errorString()};
}

}  // namespace pondara
