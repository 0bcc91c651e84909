#include "record/record_file.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pondara {

RecordFile::~RecordFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::unique_ptr<RecordFile> RecordFile::create(const QString& folder, const QString& base, const QByteArray& start,
                                               QString& error_path, int& error_number)
{
    const QDir dir(folder);
    for (int n = 1;; ++n) {
        const QString name = n == 1 ? base + QStringLiteral(".csv") : QStringLiteral("%1-%2.csv").arg(base).arg(n);
        const QString path = dir.absoluteFilePath(name);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST)
            continue;
        error_path = path;
        if (fd < 0) {
            error_number = errno;
            return nullptr;
        }
        std::unique_ptr<RecordFile> file(new RecordFile(fd, path));
        if ((error_number = file->write(start)) != 0)
            return nullptr;
        return file;
    }
}

int RecordFile::write(const QByteArray& lines)
{
    qint64 done = 0;
    while (done < lines.size()) {
        const ssize_t n = ::write(m_fd, lines.constData() + done, static_cast<std::size_t>(lines.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            // Whatever part of the batch got in goes again: whole lines only.
            if (done > 0 && ::ftruncate(m_fd, m_size) == 0)
                ::lseek(m_fd, m_size, SEEK_SET);
            return error;
        }
        done += n;
    }
    m_size += done;
    return 0;
}

int RecordFile::sync() { return ::fdatasync(m_fd) == 0 ? 0 : errno; }

}  // namespace pondara
