#include "sim_line.h"

#include "platform/virtual_port.h"
#include "reply_shaper.h"

#include <algorithm>
#include <utility>

namespace pondara::sim {

using namespace std::chrono_literals;

SimLine::SimLine(int port_number, QObject* parent)
    : QObject(parent),
      m_port_number(port_number),
      m_stations(1),
      m_link(virtual_port_link(port_number)),
      m_rng(1)
{
    m_clock.start();
    m_write_timer.setTimerType(Qt::PreciseTimer);
    m_write_timer.setSingleShot(true);
    connect(&m_write_timer, &QTimer::timeout, this, &SimLine::pump);
    m_unplug_timer.setSingleShot(true);
    connect(&m_unplug_timer, &QTimer::timeout, this, [this] { unplug(); });
    connect(&m_pty, &PseudoTerminal::received, this, &SimLine::take_requests);
}

SimLine::~SimLine() { stop(); }

bool SimLine::start(QString* error)
{
    if (plugged())
        return true;
    if (!open_line(error))
        return false;
    if (m_unplug_after > 0s)
        m_unplug_timer.start(m_unplug_after);
    return true;
}

void SimLine::stop()
{
    m_unplug_timer.stop();
    close_line();
}

bool SimLine::unplug()
{
    if (!plugged())
        return false;
    close_line();
    emit unplugged();
    return true;
}

bool SimLine::replug(QString* error)
{
    if (plugged()) {
        if (error)
            *error = QStringLiteral("port %1 is plugged already").arg(m_port_number);
        return false;
    }
    if (!open_line(error))
        return false;
    emit replugged();
    return true;
}

void SimLine::set_reply_delay(std::chrono::milliseconds delay) { m_reply_delay = std::max(delay, 0ms); }

void SimLine::set_addresses(const std::vector<std::uint8_t>& addresses)
{
    if (addresses.empty())
        return;
    m_stations.resize(addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        m_stations[i].module.set_address(addresses[i]);
        m_stations[i].module.set_seed(m_seed + static_cast<std::uint32_t>(i));
    }
}

std::vector<std::uint8_t> SimLine::addresses() const
{
    std::vector<std::uint8_t> addresses;
    for (const Station& station : m_stations)
        addresses.push_back(station.module.address());
    return addresses;
}

std::vector<SimLine::Station*> SimLine::stations(std::optional<std::uint8_t> address)
{
    std::vector<Station*> chosen;
    for (Station& station : m_stations)
        if (!address || station.module.address() == *address)
            chosen.push_back(&station);
    return chosen;
}

ModuleSim* SimLine::module_at(std::uint8_t address)
{
    return const_cast<ModuleSim*>(std::as_const(*this).module_at(address));
}

const ModuleSim* SimLine::module_at(std::uint8_t address) const
{
    for (const Station& station : m_stations)
        if (station.module.address() == address)
            return &station.module;
    return nullptr;
}

const FaultPlan* SimLine::faults_at(std::uint8_t address) const
{
    for (const Station& station : m_stations)
        if (station.module.address() == address)
            return &station.faults;
    return nullptr;
}

bool SimLine::set_fault(Fault fault, std::optional<std::uint8_t> address)
{
    const auto chosen = stations(address);
    for (Station* station : chosen) {
        if (fault == Fault::none)
            station->faults.clear();
        else
            station->faults.set_standing(fault);
    }
    return !chosen.empty();
}

bool SimLine::set_fault_once(Fault fault, std::optional<std::uint8_t> address)
{
    const auto chosen = stations(address);
    for (Station* station : chosen)
        station->faults.set_once(fault);
    return !chosen.empty();
}

void SimLine::set_fault_rate(double probability)
{
    for (Station& station : m_stations)
        station.faults.set_rate(probability);
}

void SimLine::set_seed(std::uint32_t seed)
{
    m_seed = seed;
    m_rng.seed(seed);
    for (std::size_t i = 0; i < m_stations.size(); ++i)
        m_stations[i].module.set_seed(seed + static_cast<std::uint32_t>(i));
}

void SimLine::set_unplug_after(std::chrono::seconds after)
{
    m_unplug_after = std::max(after, 0s);
    m_unplug_timer.stop();
    if (plugged() && m_unplug_after > 0s)
        m_unplug_timer.start(m_unplug_after);
}

SimLine::Counters SimLine::counters() const
{
    quint64 requests = 0;
    for (const Station& station : m_stations)
        requests += station.module.requests_seen();
    return {requests, m_replies, m_faults_injected};
}

bool SimLine::open_line(QString* error)
{
    if (!m_pty.open(error))
        return false;
    if (!m_link.publish(m_pty.device_path(), error)) {
        m_pty.close();
        return false;
    }
    return true;
}

void SimLine::close_line()
{
    m_write_timer.stop();
    m_schedule.clear();
    m_held.clear();
    m_pty.close();
    m_link.withdraw();
}

void SimLine::take_requests(const QByteArray& bytes)
{
    emit bytes_received(bytes);

    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now());
    const quint64 seen_before = counters().requests;
    std::vector<std::pair<Packet, FaultPlan*>> replies;
    for (Station& station : m_stations) {
        station.module.step(elapsed - m_last_step);
        // A zero acknowledged but not taken, while that module's fault says so.
        station.module.set_zero_ignored(station.faults.standing() == Fault::fakezero
                                        || station.faults.once() == Fault::fakezero);
        for (const Packet& reply : station.module.receive(bytes))
            replies.emplace_back(reply, &station.faults);
    }
    m_last_step = elapsed;
    if (counters().requests > seen_before && !m_held.isEmpty()) {
        // The rest of a late reply goes out ahead of the new answer.
        m_schedule.add(m_held, now());
        m_held.clear();
    }
    for (const auto& [reply, faults] : replies) {
        send_reply(reply, *faults);
        if (!plugged())
            return;
    }
    pump();
}

void SimLine::send_reply(const Packet& reply, FaultPlan& faults)
{
    const Fault fault = faults.next(m_rng);
    if (fault != Fault::none)
        ++m_faults_injected;
    emit reply_sent(reply, fault);
    if (fault == Fault::unplug) {
        unplug();
        return;
    }
    const ShapedReply shaped = shape_reply(reply, fault, m_rng);
    if (shaped.first.isEmpty() && shaped.then.isEmpty())
        return;
    m_schedule.add(shaped.first, now() + m_reply_delay, shaped.then, shaped.gap);
    m_held = shaped.held;
    ++m_replies;
}

void SimLine::pump()
{
    if (!plugged())
        return;
    const ByteSchedule::Time time = now();
    m_pty.write(m_schedule.take_due(time));
    if (const auto next = m_schedule.next_event())
        m_write_timer.start(std::max(std::chrono::ceil<std::chrono::milliseconds>(*next - time), 0ms));
    else
        m_write_timer.stop();
}

ByteSchedule::Time SimLine::now() const { return ByteSchedule::Time(m_clock.nsecsElapsed()); }

}  // namespace pondara::sim
