#pragma once

#include "serial/module_link.h"
#include "serial/port_object.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace pondara {

// A module that answered a probe.
struct ScanFind {
    int port_number = 0;
    QString device;
    int address = 0;  // the address probed
    int answered_as = 0;  // the reply's address byte; differs from `address` for a module set otherwise
    std::uint8_t type = 0;  // the reply's type byte: 1 for the AD value asked
    std::uint32_t value = 0;
    int answer_ms = 0;  // from the request's write to the reply's last byte
};

// Looks for modules: opens each port of the plan in turn and sends the
// read_ad request for each address, waiting after each for a reply. A reply
// ends its probe at once; silence ends it when the wait is over. Every byte
// is read as it comes and a reply is looked for among them, so that an
// adapter that echoes the request, or stray bytes ahead of the reply, do not
// hide it; bytes that form no reply are counted per port.
class ModuleScan : public QObject {
    Q_OBJECT

public:
    static constexpr int default_wait_ms = 50;
    static constexpr int min_wait_ms = 20;
    static constexpr int max_wait_ms = 1000;
    // The 8 bytes of a request on the line at 9600 baud, 10 bits a byte:
    // the answer wait starts when they are out.
    static constexpr double request_ms = 8 * 10 * 1000.0 / 9600;

    struct Plan {
        QList<int> ports;
        int first = 0;
        int last = 255;
        int wait_ms = default_wait_ms;
    };

    explicit ModuleScan(PortFactory make_port, QObject* parent = nullptr);
    ~ModuleScan() override;

    // Starts the plan; a scan still running is stopped first.
    void start(const Plan& plan);
    // Ends the scan now: the probe under way is dropped, the port closed,
    // and finished(true) told. Nothing while no scan runs.
    void stop();
    bool running() const { return m_link != nullptr; }

    // The probes of the plan and how many are done.
    int total() const;
    int done() const { return m_done; }

signals:
    // A port is opened and its first address about to be tried.
    void port_started(int port_number, const QString& device);
    void probing(int port_number, int address);
    void found(const pondara::ScanFind& find);
    // A port of the plan that could not be opened; it is skipped.
    void port_skipped(int port_number, const pondara::OpenFailure& failure);
    // A port scanned to its last address (or stopped), with the bytes that
    // formed no reply.
    void port_done(int port_number, const QString& device, int stray_bytes);
    void finished(bool stopped);

private:
    void open_next_port();
    void probe();
    void probe_over();
    void port_over();
    void take_bytes();
    bool sift();
    void close_port();

    PortFactory m_make_port;
    std::unique_ptr<ModuleLink> m_link;  // the port being scanned
    // The port scanned last, closed: kept until the next is done with, as
    // the scan may end inside its receive event.
    std::unique_ptr<ModuleLink> m_spent;
    Plan m_plan;
    int m_port_index = 0;
    int m_address = 0;
    int m_done = 0;
    int m_stray = 0;
    QByteArray m_received;
    QTimer m_wait;
    QElapsedTimer m_since_sent;
};

}  // namespace pondara
