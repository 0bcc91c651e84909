#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

struct mosquitto;
struct mosquitto_message;

namespace pondara::test {

// A mosquitto broker of the test's own on a free 127.0.0.1 port, from a
// generated configuration (anonymous clients, nothing kept on disk, so a
// restart forgets every retained message). It keeps its port across
// restarts.
class TestBroker {
public:
    TestBroker();
    ~TestBroker();

    // Starts it and waits until it takes connections.
    bool start(QString* error = nullptr);
    // Ends it with SIGTERM, or SIGKILL for `kill`, and waits for it.
    void stop();
    void kill();

    int port() const { return m_port; }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port); }
    qint64 pid() const { return m_process.processId(); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

// A client of the broker on a thread of its own, as an integrator's
// subscriber is: it records every message it gets, and publishes.
class BrokerClient {
public:
    struct Message {
        QString topic;
        QByteArray payload;
        bool retained = false;
        int qos = 0;
        std::int64_t received_ns = 0;  // steady clock
    };

    BrokerClient();
    ~BrokerClient();

    // Connects to 127.0.0.1:`port`, subscribes and waits for the broker's
    // acknowledgement.
    bool subscribe(int port, const QString& pattern, int timeout_ms = 5000);
    bool publish(const QString& topic, const QByteArray& payload, bool retain = false);

    QList<Message> messages() const;
    // "topic payload" for each message, "(retained) " ahead of retained ones.
    QStringList lines() const;
    void clear();
    // Runs the event loop until `done` holds for the messages so far.
    bool wait_for(const std::function<bool(const QList<Message>&)>& done, int timeout_ms) const;
    // ... until a message on `topic` with `payload` came.
    bool wait_for(const QString& topic, const QByteArray& payload, int timeout_ms) const;

private:
    static void on_message(mosquitto*, void* self, const mosquitto_message* message);
    static void on_subscribe(mosquitto*, void* self, int, int, const int*);
    static void wake_waiter();

    mosquitto* m_mosq = nullptr;
    mutable std::mutex m_mutex;
    QList<Message> m_messages;
    std::atomic<bool> m_subscribed {false};
};

}  // namespace pondara::test
