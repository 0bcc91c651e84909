#pragma once

#include <QByteArray>
#include <QString>

namespace pondara::test {

// A pseudo-terminal for port tests: the test holds the master side and plays
// the device; the port under test opens the slave path.
class TestPty {
public:
    TestPty();
    ~TestPty();
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    bool isOpen() const { return m_master >= 0; }
    QString slavePath() const { return m_slave_path; }

    // Writes to the master side, all at once.
    bool send(const QByteArray& bytes);

    // Reads from the master side until `count` bytes came or `timeout_ms`
    // passed, running the Qt event loop meanwhile (the port writes from it).
    QByteArray receive(int count, int timeout_ms);

    // Waits (running the event loop) until bytes can be read, then returns
    // what a single read() gives: shows whether a write arrived as one block.
    QByteArray receiveOneRead(int timeout_ms);

    // Closes the master side: the slave hangs up, as a device pulled out.
    void closeMaster();

private:
    int m_master = -1;
    QString m_slave_path;
};

}  // namespace pondara::test
