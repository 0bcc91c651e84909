#pragma once

#include "unique_fd.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace pondara::sim {

// One end of a serial line played by a pseudo-terminal. open() makes a new
// pty and holds its master side, the module's end; its slave side, the
// "device", is set to raw 9600 8N1, and one slave descriptor stays open here
// so the line does not hang up whenever the program on the other end closes
// it. open_device() instead opens such a device by its path, the host's end,
// as tests need it. Closing (close()) is what unplugging the line looks like
// to the other end.
//
// Reading runs on the event loop: whatever arrives is announced by
// received(), and a line whose other end is gone by hung_up(), once.
class PseudoTerminal : public QObject {
    Q_OBJECT

public:
    enum class Reading {
        on_event_loop,  // received() and hung_up() tell what arrives
        by_caller,  // nothing reads here: the caller reads fd() itself
    };

    explicit PseudoTerminal(QObject* parent = nullptr);
    ~PseudoTerminal() override;

    // Opens a new pty; on failure returns false and says why in `error`.
    bool open(QString* error, Reading reading = Reading::on_event_loop);
    // Opens the device at `path` (raw 9600 8N1), read on the event loop.
    bool open_device(const QString& path, QString* error = nullptr);
    void close();

    bool is_open() const { return m_fd.valid(); }
    // The master side, or the opened device. Non-blocking, close-on-exec.
    int fd() const { return m_fd.get(); }
    // The device path, e.g. /dev/pts/5 (for open_device(), the path given).
    QString device_path() const { return m_device_path; }

    // Writes all of `bytes` unless the line is full or broken: then the rest
    // is lost, as on a wire. True if all went.
    bool write(const QByteArray& bytes);

signals:
    void received(const QByteArray& bytes);
    void hung_up();

private:
    void read_available();

    UniqueFd m_fd;
    UniqueFd m_slave;  // held open by open() only
    QString m_device_path;
    QSocketNotifier* m_reader = nullptr;  // child; lives while reading
};

}  // namespace pondara::sim
