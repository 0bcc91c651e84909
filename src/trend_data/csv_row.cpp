#include "trend_data/csv_row.h"

#include <QDateTime>

#include <cstdlib>

namespace pondara::csv {

namespace {

void append_text(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\r') && !utf8.contains('\n')) {
        out += utf8;
        return;
    }
    out += '"';
    for (const char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

template <typename Number>
void append_number(QByteArray& out, const std::optional<Number>& number)
{
    if (number)
        out += QByteArray::number(static_cast<qlonglong>(*number));
}

}  // namespace

QByteArray file_start()
{
    return QByteArrayLiteral("\xEF\xBB\xBFtime,ms,kind,value,link,stale,port,address,detail\r\n");
}

QString local_time(std::int64_t wall_ms)
{
    // Written by hand rather than as Qt's ISO date, which gives "Z" for UTC
    // and no offset at all for local time.
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(wall_ms);
    const int offset_s = time.offsetFromUtc();
    const int offset_min = std::abs(offset_s) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
           + QStringLiteral("%1%2:%3")
                 .arg(offset_s < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                 .arg(offset_min / 60, 2, 10, QLatin1Char('0'))
                 .arg(offset_min % 60, 2, 10, QLatin1Char('0'));
}

void append_line(QByteArray& out, const Row& row)
{
    out += local_time(row.wall_ms).toLatin1();
    out += ',';
    out += QByteArray::number(static_cast<qlonglong>(row.ms));
    out += ',';
    append_text(out, row.kind);
    out += ',';
    append_number(out, row.value);
    out += ',';
    append_text(out, row.link);
    out += row.stale ? ",1," : ",0,";
    append_number(out, row.port);
    out += ',';
    append_number(out, row.address);
    out += ',';
    append_text(out, row.detail);
    out += "\r\n";
}

}  // namespace pondara::csv
