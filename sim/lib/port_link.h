#pragma once

#include <QString>

namespace pondara::sim {

// The symbolic link that numbers a device as a virtual port. A link that
// points to a device that exists is someone else's port and is left alone; a
// stale one, pointing to nothing, is replaced. The link is removed on
// withdraw() or destruction, but only while it still points to the device
// published here.
class PortLink {
public:
    explicit PortLink(QString link_path) : m_path(std::move(link_path)) { }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;
    ~PortLink();

    // Creates the link's folder if needed and points the link to `target`.
    bool publish(const QString& target, QString* error);
    void withdraw();

    QString path() const { return m_path; }
    bool published() const { return !m_target.isEmpty(); }

private:
    QString m_path;
    QString m_target;  // empty while nothing is published
};

}  // namespace pondara::sim
