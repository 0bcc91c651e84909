#pragma once

#include <QByteArray>
#include <QHostInfo>
#include <QObject>
#include <QSet>
#include <QString>

#include <chrono>
#include <cstdint>

struct mosquitto;
struct mosquitto_message;
class QSocketNotifier;
class QTimer;

namespace pondara {

// Where and as whom to connect.
struct MqttSettings {
    QString host;
    int port = 1883;
    QString user;  // empty: no user name and no password
    QString password;
    QString client_id;
};

// One connection to an MQTT broker through libmosquitto, driven on the
// thread that owns it: the library's socket is watched with socket
// notifiers and its keep-alive is run by a timer, so nothing here ever
// waits. A connection that fails or breaks is tried again after 1 s, then
// after twice the last wait, up to 30 s; a connection that reaches the
// broker starts the waits from 1 s again. What cannot be handed to the
// library at once is dropped and counted: the library keeps QoS 1 messages
// until the broker acknowledges them, so no more than `max_unacked` of them
// are given to it, and no more than `max_backlog` QoS 0 messages while the
// socket does not take them.
class MqttClient : public QObject {
    Q_OBJECT

public:
    enum class State : std::uint8_t { idle, waiting, connecting, connected };

    static constexpr std::chrono::milliseconds first_backoff {1000};
    static constexpr std::chrono::milliseconds last_backoff {30000};
    static constexpr std::chrono::milliseconds connect_timeout {10000};
    static constexpr int keepalive_s = 30;
    static constexpr int max_unacked = 100;
    static constexpr int max_backlog = 64;

    struct Counters {
        std::uint64_t sent = 0;  // messages handed to the library
        std::uint64_t dropped = 0;  // messages that could not be
        std::uint64_t connections = 0;  // connections the broker accepted
    };

    explicit MqttClient(MqttSettings settings, QObject* parent = nullptr);
    ~MqttClient() override;

    // What the broker publishes, retained at QoS 1, when this connection
    // ends without a goodbye. Applies from the next connection on.
    void set_will(const QByteArray& topic, const QByteArray& payload);
    // The first attempt, at once.
    void start();
    // Says goodbye (so no last will) and connects again, for a new last
    // will: at once, or once the broker has acknowledged what it was given.
    void reconnect();

    // Topics and patterns as they go on the wire (UTF-8). False when the
    // message was dropped (and counted).
    bool publish(const QByteArray& topic, const QByteArray& payload, int qos, bool retain);
    bool subscribe(const QByteArray& pattern, int qos);

    State state() const { return m_state; }
    const Counters& counters() const { return m_counters; }
    const MqttSettings& settings() const { return m_settings; }
    // Why the last connection failed or ended; empty while connected.
    QString problem() const { return m_problem; }
    // The wait after the next failure; and until the next attempt.
    std::chrono::milliseconds backoff() const { return m_backoff; }
    std::chrono::milliseconds next_attempt_in() const;

signals:
    void connected();
    void disconnected();
    void message(const QString& topic, const QByteArray& payload, bool retained);

private:
    static void on_connect(mosquitto*, void* self, int rc);
    static void on_publish(mosquitto*, void* self, int mid);
    static void on_message(mosquitto*, void* self, const mosquitto_message* message);

    void attempt();
    void looked_up(const QHostInfo& info);
    void connect_to(const QString& address);
    void reconnect_now();
    void watch_socket();
    void read_ready();
    void write_ready();
    void housekeeping();
    // After each call into the library: a closed socket ends the connection,
    // else the write notifier follows whether the library has bytes to send.
    void after_io(int rc);
    void drop_connection(const QString& why);
    void stop_watching();
    bool dropped(const char* why);

    MqttSettings m_settings;
    mosquitto* m_mosq = nullptr;
    State m_state = State::idle;
    Counters m_counters;
    QString m_problem;
    QString m_refusal;  // the broker's reason for refusing the connection
    std::chrono::milliseconds m_backoff = first_backoff;
    std::chrono::steady_clock::time_point m_attempt_started;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    QTimer* m_retry = nullptr;
    QTimer* m_housekeeping = nullptr;
    QSet<int> m_unacked;  // QoS 1 message ids the broker has not acknowledged
    bool m_reconnect_due = false;
    int m_lookup = -1;  // the host name lookup under way
    int m_backlog = 0;  // QoS 0 messages handed over while the socket was full
};

}  // namespace pondara
