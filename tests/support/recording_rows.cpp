#include "recording_rows.h"

#include <QByteArray>
#include <QFile>

#include <utility>

namespace pondara::test {

QList<QStringList> recording_rows(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    const QByteArray start = "\xEF\xBB\xBFtime,ms,kind,value,link,stale,port,address,detail\r\n";
    if (!data.startsWith(start) || !data.endsWith("\r\n"))
        return {};
    QList<QStringList> rows;
    QStringList fields;
    QString field;
    bool quoted = false;
    const QString text = QString::fromUtf8(data.mid(start.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"')
                field += text[++i];
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            fields << std::exchange(field, {});
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            fields << std::exchange(field, {});
            if (fields.size() != 9)
                return {};
            rows << std::exchange(fields, {});
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

}  // namespace pondara::test
