#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace pondara {

// One CSV file of a recording, written straight to its descriptor: each
// batch of whole lines goes out in one write(), and a batch the disk takes
// only in part is cut off again, so the file never ends in half a line.
class RecordFile {
public:
    ~RecordFile();

    // Creates `folder`/`base`.csv, or `base`-2.csv, -3 ... where that exists:
    // an existing file is never opened. Writes `start`. Returns nullptr with
    // the path tried and errno in `error_path` and `error_number`.
    static std::unique_ptr<RecordFile> create(const QString& folder, const QString& base, const QByteArray& start,
                                              QString& error_path, int& error_number);

    // Appends whole lines; 0, or the errno of the failure.
    int write(const QByteArray& lines);
    // Forces the data to the disk; 0 or the errno.
    int sync();

    const QString& path() const { return m_path; }
    qint64 size() const { return m_size; }

private:
    RecordFile(int fd, QString path) : m_fd(fd), m_path(std::move(path)) { }

    int m_fd = -1;
    QString m_path;
    qint64 m_size = 0;
};

}  // namespace pondara
