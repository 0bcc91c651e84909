#include "mqtt_broker.h"

#include "run_until.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>

#include <mosquitto.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pondara::test {

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port nobody listens on now: the kernel's pick for a socket bound to 0.
int free_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool accepts_connections(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    const bool accepted = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return accepted;
}

std::int64_t steady_ns()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TestBroker::TestBroker() { mosquitto_lib_init(); }

TestBroker::~TestBroker() { stop(); }

bool TestBroker::start(QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_port == 0)
        m_port = free_port();
    const QString config = m_dir.filePath(QStringLiteral("mosquitto.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1").arg(config));
    file.write(
        QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n").arg(m_port).toLatin1());
    file.close();
    // The broker is installed in sbin, often not on a user's PATH.
    QString program = QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {"/usr/sbin", "/usr/local/sbin"});
    if (program.isEmpty())
        return fail(QStringLiteral("no mosquitto broker installed (scripts/install-deps installs it)"));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(program, {QStringLiteral("-c"), config});
    if (!m_process.waitForStarted())
        return fail(QStringLiteral("mosquitto does not start: %1").arg(m_process.errorString()));
    if (!run_until([this] { return accepts_connections(m_port) || m_process.state() == QProcess::NotRunning; }, 10000)
        || m_process.state() == QProcess::NotRunning)
        return fail(QStringLiteral("mosquitto takes no connections on %1: %2")
                        .arg(m_port)
                        .arg(QString::fromLocal8Bit(m_process.readAll())));
    return true;
}

void TestBroker::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        kill();
}

void TestBroker::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(m_process.processId()), SIGKILL);
    m_process.waitForFinished(5000);
}

BrokerClient::BrokerClient()
{
    mosquitto_lib_init();
    m_mosq = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(m_mosq, &BrokerClient::on_message);
    mosquitto_subscribe_callback_set(m_mosq, &BrokerClient::on_subscribe);
}

BrokerClient::~BrokerClient()
{
    // The library's thread ends by itself once disconnected. Cancelled
    // instead, it could stop inside a callback (waking the waiter writes to
    // Qt's event loop) and leave the message it was handing over behind.
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    mosquitto_destroy(m_mosq);
}

bool BrokerClient::subscribe(int port, const QString& pattern, int timeout_ms)
{
    if (mosquitto_connect(m_mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
        return false;
    if (mosquitto_subscribe(m_mosq, nullptr, pattern.toUtf8().constData(), 1) != MOSQ_ERR_SUCCESS)
        return false;
    if (mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS)
        return false;
    return run_until([this] { return m_subscribed.load(); }, timeout_ms);
}

bool BrokerClient::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    return mosquitto_publish(m_mosq, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
                             payload.constData(), 1, retain)
           == MOSQ_ERR_SUCCESS;
}

void BrokerClient::on_message(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* client = static_cast<BrokerClient*>(self);
    Message got {QString::fromUtf8(message->topic),
                 QByteArray(static_cast<const char*>(message->payload), message->payloadlen), message->retain,
                 message->qos, steady_ns()};
    {
        const std::lock_guard lock(client->m_mutex);
        client->m_messages.append(std::move(got));
    }
    wake_waiter();
}

void BrokerClient::on_subscribe(mosquitto*, void* self, int, int, const int*)
{
    static_cast<BrokerClient*>(self)->m_subscribed = true;
    wake_waiter();
}

// From the library's thread: an event for the thread waiting in the event
// loop, which otherwise would sleep on until its timeout.
void BrokerClient::wake_waiter()
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
}

QList<BrokerClient::Message> BrokerClient::messages() const
{
    const std::lock_guard lock(m_mutex);
    return m_messages;
}

QStringList BrokerClient::lines() const
{
    QStringList lines;
    for (const Message& message : messages())
        lines.append(QStringLiteral("%1%2 %3").arg(message.retained ? QStringLiteral("(retained) ") : QString(),
                                                   message.topic, QString::fromUtf8(message.payload)));
    return lines;
}

void BrokerClient::clear()
{
    const std::lock_guard lock(m_mutex);
    m_messages.clear();
}

bool BrokerClient::wait_for(const std::function<bool(const QList<Message>&)>& done, int timeout_ms) const
{
    return run_until([&] { return done(messages()); }, timeout_ms);
}

bool BrokerClient::wait_for(const QString& topic, const QByteArray& payload, int timeout_ms) const
{
    return wait_for(
        [&](const QList<Message>& got) {
            return std::any_of(got.cbegin(), got.cend(), [&](const Message& message) {
                return message.topic == topic && message.payload == payload;
            });
        },
        timeout_ms);
}

}  // namespace pondara::test
