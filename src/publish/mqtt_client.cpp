#include "publish/mqtt_client.h"

#include "publish/mqtt_log.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

Q_LOGGING_CATEGORY(lc_mqtt, "pondara.mqtt", QtWarningMsg)

namespace pondara {

namespace {

// libmosquitto wants one initialisation per process before its first use.
void init_library()
{
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)done;
}

}  // namespace

MqttClient::MqttClient(MqttSettings settings, QObject* parent)
    : QObject(parent),
      m_settings(std::move(settings)),
      m_retry(new QTimer(this)),
      m_housekeeping(new QTimer(this))
{
    init_library();
    m_mosq = mosquitto_new(m_settings.client_id.toUtf8().constData(), true, this);
    Q_CHECK_PTR(m_mosq);
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    if (!m_settings.user.isEmpty()) {
        const QByteArray password = m_settings.password.toUtf8();
        mosquitto_username_pw_set(m_mosq, m_settings.user.toUtf8().constData(),
                                  m_settings.password.isEmpty() ? nullptr : password.constData());
    }
    mosquitto_connect_callback_set(m_mosq, &MqttClient::on_connect);
    mosquitto_publish_callback_set(m_mosq, &MqttClient::on_publish);
    mosquitto_message_callback_set(m_mosq, &MqttClient::on_message);

    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &MqttClient::attempt);
    // Often enough for the keep-alive (a ping within 30 s) and to notice a
    // connection that never gets an answer; seldom enough to cost nothing.
    m_housekeeping->setInterval(5000);
    connect(m_housekeeping, &QTimer::timeout, this, &MqttClient::housekeeping);
}

MqttClient::~MqttClient()
{
    if (m_lookup >= 0)
        QHostInfo::abortHostLookup(m_lookup);
    stop_watching();
    mosquitto_destroy(m_mosq);
}

void MqttClient::set_will(const QByteArray& topic, const QByteArray& payload)
{
    mosquitto_will_set(m_mosq, topic.constData(), static_cast<int>(payload.size()), payload.constData(), 1, true);
}

std::chrono::milliseconds MqttClient::next_attempt_in() const
{
    return std::chrono::milliseconds(m_retry->isActive() ? m_retry->remainingTime() : 0);
}

void MqttClient::start()
{
    if (m_state == State::idle)
        attempt();
}

void MqttClient::reconnect()
{
    // What the broker has not acknowledged yet the library would send again
    // under the new connection: wait for it, a keep-alive tick at most.
    m_reconnect_due = m_state == State::connected && !m_unacked.isEmpty();
    if (!m_reconnect_due)
        reconnect_now();
}

void MqttClient::reconnect_now()
{
    m_reconnect_due = false;
    const bool was_connected = m_state == State::connected;
    if (was_connected) {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_write(m_mosq, 1);
    }
    stop_watching();
    if (was_connected)
        emit disconnected();
    m_retry->stop();
    attempt();
}

void MqttClient::attempt()
{
    m_state = State::connecting;
    m_attempt_started = std::chrono::steady_clock::now();
    m_housekeeping->start();
    qCDebug(lc_mqtt).noquote() << "connecting to" << m_settings.host << m_settings.port;
    // libmosquitto would look a name up with getaddrinfo(), which can wait
    // seconds for a name server: Qt looks it up aside, and the library gets
    // the address.
    if (QHostAddress(m_settings.host).isNull()) {
        m_lookup = QHostInfo::lookupHost(m_settings.host, this, &MqttClient::looked_up);
        return;
    }
    connect_to(m_settings.host);
}

void MqttClient::looked_up(const QHostInfo& info)
{
    m_lookup = -1;
    if (m_state != State::connecting)
        return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        drop_connection(info.errorString());
        return;
    }
    connect_to(info.addresses().constFirst().toString());
}

void MqttClient::connect_to(const QString& address)
{
    const int rc = mosquitto_connect_async(m_mosq, address.toUtf8().constData(), m_settings.port, keepalive_s);
    if (rc != MOSQ_ERR_SUCCESS) {
        drop_connection(QString::fromUtf8(mosquitto_strerror(rc)));
        return;
    }
    watch_socket();
    after_io(MOSQ_ERR_SUCCESS);
}

void MqttClient::watch_socket()
{
    stop_watching();
    const int fd = mosquitto_socket(m_mosq);
    if (fd < 0)
        return;
    m_read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_read, &QSocketNotifier::activated, this, &MqttClient::read_ready);
    m_write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_write, &QSocketNotifier::activated, this, &MqttClient::write_ready);
}

void MqttClient::stop_watching()
{
    // Deleted later: this may run inside one of their own signals.
    for (QSocketNotifier** notifier : {&m_read, &m_write}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
}

void MqttClient::read_ready() { after_io(mosquitto_loop_read(m_mosq, 1)); }

void MqttClient::write_ready()
{
    const int rc = mosquitto_loop_write(m_mosq, 1);
    if (!mosquitto_want_write(m_mosq))
        m_backlog = 0;
    after_io(rc);
}

void MqttClient::housekeeping()
{
    if (m_reconnect_due) {
        reconnect_now();
        return;
    }
    if (m_state == State::connecting && std::chrono::steady_clock::now() - m_attempt_started > connect_timeout) {
        drop_connection(QStringLiteral("no answer from the broker"));
        return;
    }
    if (m_lookup >= 0)
        return;  // no socket of the library's yet
    after_io(mosquitto_loop_misc(m_mosq));
}

void MqttClient::after_io(int rc)
{
    if (m_state != State::connecting && m_state != State::connected)
        return;
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_mosq) < 0) {
        const int error = errno;
        QString why = QString::fromUtf8(mosquitto_strerror(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc));
        if (rc == MOSQ_ERR_ERRNO)
            why = QString::fromLocal8Bit(strerror(error));
        drop_connection(why);
        return;
    }
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttClient::drop_connection(const QString& why)
{
    m_reconnect_due = false;
    if (m_lookup >= 0) {
        QHostInfo::abortHostLookup(m_lookup);
        m_lookup = -1;
    }
    const bool was_connected = m_state == State::connected;
    stop_watching();
    m_housekeeping->stop();
    m_state = State::waiting;
    m_problem = m_refusal.isEmpty() ? why : m_refusal;
    m_refusal.clear();
    qCInfo(lc_mqtt).noquote() << "no connection to" << m_settings.host << m_settings.port << ":" << m_problem
                              << "; next attempt in" << m_backoff.count() << "ms";
    m_retry->start(m_backoff);
    m_backoff = std::min(m_backoff * 2, last_backoff);
    if (was_connected)
        emit disconnected();
}

bool MqttClient::dropped(const char* why)
{
    ++m_counters.dropped;
    qCDebug(lc_mqtt) << "dropped a message:" << why;
    return false;
}

bool MqttClient::publish(const QByteArray& topic, const QByteArray& payload, int qos, bool retain)
{
    if (m_state != State::connected)
        return dropped("not connected");
    if (qos > 0 && m_unacked.size() >= max_unacked)
        return dropped("too many unacknowledged");
    const bool backed_up = mosquitto_want_write(m_mosq);
    if (qos == 0 && backed_up && m_backlog >= max_backlog)
        return dropped("the socket takes nothing");
    int mid = 0;
    const int rc = mosquitto_publish(m_mosq, &mid, topic.constData(), static_cast<int>(payload.size()),
                                     payload.constData(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        after_io(rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST ? rc : MOSQ_ERR_SUCCESS);
        return dropped(mosquitto_strerror(rc));
    }
    ++m_counters.sent;
    if (qos > 0)
        m_unacked.insert(mid);
    else if (backed_up)
        ++m_backlog;
    after_io(MOSQ_ERR_SUCCESS);
    return true;
}

bool MqttClient::subscribe(const QByteArray& pattern, int qos)
{
    if (m_state != State::connected)
        return false;
    const int rc = mosquitto_subscribe(m_mosq, nullptr, pattern.constData(), qos);
    after_io(MOSQ_ERR_SUCCESS);
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttClient::on_connect(mosquitto*, void* self, int rc)
{
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0) {
        // Refused: the broker closes the socket, which after_io then sees.
        client->m_refusal = QString::fromUtf8(mosquitto_connack_string(rc));
        return;
    }
    client->m_state = State::connected;
    client->m_problem.clear();
    client->m_backoff = first_backoff;
    ++client->m_counters.connections;
    qCInfo(lc_mqtt).noquote() << "connected to" << client->m_settings.host << client->m_settings.port;
    emit client->connected();
}

void MqttClient::on_publish(mosquitto*, void* self, int mid)
{
    auto* client = static_cast<MqttClient*>(self);
    client->m_unacked.remove(mid);
    // Not from inside the library's own call.
    if (client->m_reconnect_due && client->m_unacked.isEmpty())
        QTimer::singleShot(0, client, [client] {
            if (client->m_reconnect_due)
                client->reconnect_now();
        });
}

void MqttClient::on_message(mosquitto*, void* self, const mosquitto_message* message)
{
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    emit static_cast<MqttClient*>(self)->message(QString::fromUtf8(message->topic), payload, message->retain);
}

}  // namespace pondara
