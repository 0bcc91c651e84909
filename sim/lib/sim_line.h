#pragma once

#include "byte_schedule.h"
#include "fault_plan.h"
#include "module_sim.h"
#include "port_link.h"
#include "pseudo_terminal.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace pondara::sim {

// The simulated module on a line: a pseudo-terminal published as virtual
// port N, a ModuleSim answering what arrives, and the line's behaviour:
// 9600-baud pacing, a reply delay and injected faults. The line may carry a
// bus of modules, each at an address of its own with its own scale and
// faults; each hears every request and answers its own. Everything runs on
// the thread's event loop.
class SimLine : public QObject {
    Q_OBJECT

public:
    struct Counters {
        quint64 requests = 0;  // well-formed requests for this module
        quint64 replies = 0;  // replies that put at least one byte on the line
        quint64 faults = 0;  // faults injected, unplugging included
    };

    explicit SimLine(int port_number, QObject* parent = nullptr);
    ~SimLine() override;

    // Opens the line and publishes it; false with the reason in `error` if
    // that fails. Also arms the unplug-after timer, if set.
    bool start(QString* error = nullptr);
    // Closes the line and removes the link, quietly.
    void stop();
    // Closes the line as if its cable were pulled: the device goes away, a
    // program that has it open sees a hang-up, the link is removed. False if
    // it was not plugged.
    bool unplug();
    // A new line (device name may change), published under the same port.
    bool replug(QString* error = nullptr);

    bool plugged() const { return m_pty.is_open(); }
    int port_number() const { return m_port_number; }
    QString device_path() const { return m_pty.device_path(); }
    QString link_path() const { return m_link.path(); }

    // The first module; the only one unless the line is a bus.
    ModuleSim& module() { return m_stations.front().module; }
    const ModuleSim& module() const { return m_stations.front().module; }

    // The modules on the line, one per address, the first kept (with its
    // scale) at the first address.
    void set_addresses(const std::vector<std::uint8_t>& addresses);
    std::vector<std::uint8_t> addresses() const;
    // The module at `address`, null when none answers there.
    ModuleSim* module_at(std::uint8_t address);
    const ModuleSim* module_at(std::uint8_t address) const;
    const FaultPlan* faults_at(std::uint8_t address) const;

    // True while bytes of a reply still wait to go on the line (held bytes
    // of a late reply do not count: they wait for the next request).
    bool sending() const { return !m_schedule.empty(); }

    void set_pacing(bool on) { m_schedule.set_pacing(on); }
    bool pacing() const { return m_schedule.pacing(); }
    void set_reply_delay(std::chrono::milliseconds delay);
    std::chrono::milliseconds reply_delay() const { return m_reply_delay; }

    // A fault for every reply from now on (Fault::none clears it and any
    // fault set once), of the module at `address` or of every module; false
    // when no module answers there.
    bool set_fault(Fault fault, std::optional<std::uint8_t> address = {});
    // A fault for the next reply only.
    bool set_fault_once(Fault fault, std::optional<std::uint8_t> address = {});
    // Probability per reply of a random reply fault, for every module.
    void set_fault_rate(double probability);
    // The first module's faults.
    const FaultPlan& faults() const { return m_stations.front().faults; }

    // Seeds the AD noise and the random faults and bytes.
    void set_seed(std::uint32_t seed);
    // Unplugs this long after start(), or from now if already started;
    // zero cancels.
    void set_unplug_after(std::chrono::seconds after);

    Counters counters() const;

signals:
    // Every byte the host wrote, as read from the line, for tests that check
    // the requests on the wire.
    void bytes_received(const QByteArray& bytes);
    // Each reply the module made, as it was before the line spoiled it, and
    // the fault the line gave it (Fault::none for a clean one), for tests
    // that check which replies the host may show.
    void reply_sent(const pondara::Packet& reply, pondara::sim::Fault fault);
    void unplugged();
    void replugged();

private:
    bool open_line(QString* error);
    void close_line();
    void take_requests(const QByteArray& bytes);
    struct Station {
        ModuleSim module;
        FaultPlan faults;
    };
    void send_reply(const Packet& reply, FaultPlan& faults);
    // The stations at `address`, or all of them.
    std::vector<Station*> stations(std::optional<std::uint8_t> address);
    void pump();
    ByteSchedule::Time now() const;

    const int m_port_number;
    std::vector<Station> m_stations;
    std::uint32_t m_seed = 1;
    ByteSchedule m_schedule;
    PseudoTerminal m_pty;
    PortLink m_link;
    QTimer m_write_timer;
    QTimer m_unplug_timer;
    QElapsedTimer m_clock;
    std::chrono::milliseconds m_last_step {0};
    std::chrono::milliseconds m_reply_delay {0};
    std::chrono::seconds m_unplug_after {0};
    std::mt19937 m_rng;
    QByteArray m_held;  // the rest of a late reply
    quint64 m_replies = 0;
    quint64 m_faults_injected = 0;
};

}  // namespace pondara::sim
