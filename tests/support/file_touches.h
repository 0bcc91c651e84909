#pragma once

#include <QString>
#include <QStringList>

namespace pondara::test {

// Records every open, creation, change and removal of files in the watched
// folders (inotify), so that a test can prove that a refused port left
// them alone.
class Touches {
public:
    Touches();
    ~Touches();
    Touches(const Touches&) = delete;
    Touches& operator=(const Touches&) = delete;

    bool watch(const QString& dir);

    // "name mask" (mask in hex) for each event so far.
    QStringList events() const;

private:
    int m_fd;
};

}  // namespace pondara::test
