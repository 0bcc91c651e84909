#include "scan/module_scan.h"

#include "serial/logging.h"

#include <cmath>

namespace pondara {

ModuleScan::ModuleScan(PortFactory make_port, QObject* parent) : QObject(parent), m_make_port(std::move(make_port))
{
    m_wait.setSingleShot(true);
    m_wait.setTimerType(Qt::PreciseTimer);
    connect(&m_wait, &QTimer::timeout, this, &ModuleScan::probe_over);
}

ModuleScan::~ModuleScan() { close_port(); }

int ModuleScan::total() const
{
    return static_cast<int>(m_plan.ports.size()) * std::max(0, m_plan.last - m_plan.first + 1);
}

void ModuleScan::start(const Plan& plan)
{
    stop();
    m_plan = plan;
    m_port_index = -1;
    m_done = 0;
    open_next_port();
}

void ModuleScan::stop()
{
    if (!running())
        return;
    qCDebug(lc_port) << "scan: stopped";
    close_port();
    emit finished(true);
}

// Opens the plan's next port that opens, telling the others as skipped, and
// probes its first address; tells finished(false) after the last.
void ModuleScan::open_next_port()
{
    while (++m_port_index < m_plan.ports.size()) {
        const int number = m_plan.ports.at(m_port_index);
        auto link = std::make_unique<ModuleLink>(m_make_port(), QStringLiteral("scan"));
        if (const auto failure = link->open(static_cast<std::int16_t>(number))) {
            m_done += m_plan.last - m_plan.first + 1;
            emit port_skipped(number, *failure);
            continue;
        }
        // Every byte raises the receive event, so that a reply is found
        // wherever it starts.
        link->port().setRThreshold(1);
        connect(&link->port(), &PortObject::onComm, this, &ModuleScan::take_bytes);
        connect(link.get(), &ModuleLink::module_event, this, [this](const ModuleEvent& event) {
            if (event.kind == ModuleEvent::Kind::lost) {
                m_done += m_plan.last - m_address;
                port_over();
            }
        });
        m_link = std::move(link);
        m_address = m_plan.first;
        m_stray = 0;
        m_received.clear();
        emit port_started(number, m_link->device());
        probe();
        return;
    }
    emit finished(false);
}

void ModuleScan::probe()
{
    emit probing(m_link->port_number(), m_address);
    m_received.clear();
    m_link->send_frame(QString::number(m_address), make_command(Leixing::read_ad));
    m_since_sent.start();
    m_wait.start(static_cast<int>(std::ceil(request_ms + m_plan.wait_ms)));
}

// The wait is over or a reply came: counts what was left unread, then the
// next address, or the next port after the last.
void ModuleScan::probe_over()
{
    m_wait.stop();
    take_bytes();
    if (!running())
        return;
    if (!m_received.isEmpty()) {
        m_link->bytes_skipped(m_received, "no reply");
        m_stray += static_cast<int>(m_received.size());
        m_received.clear();
    }
    ++m_done;
    if (m_address < m_plan.last) {
        ++m_address;
        probe();
        return;
    }
    port_over();
}

// The port is done with (its last address tried, or the device lost): on to
// the next.
void ModuleScan::port_over()
{
    const int number = m_link->port_number();
    const QString device = m_link->device();
    const int stray = m_stray;
    close_port();
    emit port_done(number, device, stray);
    open_next_port();
}

void ModuleScan::take_bytes()
{
    if (!running())
        return;
    while (const auto byte = m_link->port().input())
        m_received.append(static_cast<char>(*byte));
    if (m_wait.isActive() && sift())
        probe_over();
}

// Looks for the reply among the bytes received for this probe: an echo of
// the request is set aside, a reply accepted ends the probe, a byte that
// starts neither is stray. Bytes that may still become one wait.
bool ModuleScan::sift()
{
    const Packet& sent = m_link->tx_buf();
    const QByteArray echo(reinterpret_cast<const char*>(sent.data()), static_cast<qsizetype>(sent.size()));
    QByteArray stray;
    const auto set_aside_stray = [&] {
        if (stray.isEmpty())
            return;
        m_link->bytes_skipped(stray, "no reply");
        m_stray += static_cast<int>(stray.size());
    };
    while (!m_received.isEmpty()) {
        const qsizetype have = std::min<qsizetype>(m_received.size(), 8);
        if (m_received.startsWith(echo.left(have))) {
            if (have < 8)
                break;
            set_aside_stray();
            stray.clear();
            m_link->bytes_skipped(m_received.left(8), "echo of the request");
            m_received.remove(0, 8);
            continue;
        }
        if (static_cast<std::uint8_t>(m_received.at(0)) == reply_header) {
            if (have < 8)
                break;
            RxBuf rx_buf {};
            for (qsizetype k = 0; k < 8; ++k)
                rx_buf[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(m_received.at(k));
            if (reply_ok(rx_buf)) {
                set_aside_stray();
                m_received.remove(0, 8);
                m_link->reply_found(rx_buf);
                ScanFind find;
                find.port_number = m_link->port_number();
                find.device = m_link->device();
                find.address = m_address;
                find.answered_as = rx_buf[1];
                find.type = static_cast<std::uint8_t>(rx_buf[2]);
                find.value = reply_value(rx_buf);
                find.answer_ms = static_cast<int>(m_since_sent.elapsed());
                emit found(find);
                return true;
            }
        }
        stray.append(m_received.at(0));
        m_received.remove(0, 1);
    }
    set_aside_stray();
    return false;
}

void ModuleScan::close_port()
{
    m_wait.stop();
    if (!m_link)
        return;
    // Closed now, so that the device is free at once.
    m_link->close();
    m_link->disconnect(this);
    m_link->port().disconnect(this);
    m_spent = std::move(m_link);
}

}  // namespace pondara
