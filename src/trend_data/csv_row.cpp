#include "trend_data/csv_row.h"

#include "trend_data/trend_stats.h"

#include <QDir>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

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

QString default_folder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("PondaraV6"));
}

void append_local_time(QByteArray& out, std::int64_t wall_ms)
{
    // Rows and messages come several a second, and the local date, time and
    // offset change once a second at most: they are worked out then, and for
    // the values in between only the milliseconds. The C library's local
    // time brings the offset with it, where Qt's looks the zone up afresh.
    static thread_local std::int64_t cached_second = std::numeric_limits<std::int64_t>::min();
    static thread_local char date_time[80];  // "2026-12-07T18:04:05.", with room for any int
    static thread_local char offset[48];  // "+08:00"
    const std::int64_t ms = ((wall_ms % 1000) + 1000) % 1000;
    const std::int64_t second = (wall_ms - ms) / 1000;
    if (second != cached_second) {
        const auto seconds = static_cast<std::time_t>(second);
        std::tm local {};
        localtime_r(&seconds, &local);
        const long offset_min = local.tm_gmtoff / 60;
        std::snprintf(date_time, sizeof date_time, "%04d-%02d-%02dT%02d:%02d:%02d.", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        std::snprintf(offset, sizeof offset, "%c%02ld:%02ld", offset_min < 0 ? '-' : '+', std::labs(offset_min) / 60,
                      std::labs(offset_min) % 60);
        cached_second = second;
    }
    const char millis[3]
        = {static_cast<char>('0' + ms / 100), static_cast<char>('0' + ms / 10 % 10), static_cast<char>('0' + ms % 10)};
    out.append(date_time).append(millis, 3).append(offset);
}

void append_line(QByteArray& out, const Row& row)
{
    append_local_time(out, row.wall_ms);
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

QByteArray history_file(const TrendHistory& history, std::int64_t from_ms, std::int64_t to_ms,
                        std::int64_t wall_at_to_ms, const QString& note)
{
    using Channel = TrendHistory::Channel;
    const TrendSamples& ad = history.samples(Channel::ad);
    const TrendSamples& weight = history.samples(Channel::weight);
    auto a = first_after(ad, from_ms);
    auto w = first_after(weight, from_ms);
    const auto a_end = first_after(ad, to_ms);
    const auto w_end = first_after(weight, to_ms);

    QByteArray out = file_start();
    Row row {wall_at_to_ms - (to_ms - from_ms), 0, QStringLiteral("note"), {}, {}, false, {}, {}, note};
    append_line(out, row);
    row.detail.clear();
    // A gap marks both channels: the one that resumes first writes its row.
    // A channel's sample before the span tells whether its first one in the
    // span follows a gap.
    std::optional<std::int64_t> last_ad;
    std::optional<std::int64_t> last_weight;
    std::optional<std::int64_t> last_gap;
    if (a != ad.begin())
        last_ad = std::prev(a)->time_ms;
    if (w != weight.begin())
        last_weight = std::prev(w)->time_ms;
    while (a != a_end || w != w_end) {
        const bool take_ad = w == w_end || (a != a_end && a->time_ms <= w->time_ms);
        const TrendHistory::Sample& sample = take_ad ? *a++ : *w++;
        std::optional<std::int64_t>& last = take_ad ? last_ad : last_weight;
        row.wall_ms = wall_at_to_ms - (to_ms - sample.time_ms);
        row.ms = sample.time_ms - from_ms;
        if (sample.starts_run && last && !(last_gap && *last_gap > *last)) {
            row.kind = QStringLiteral("gap");
            row.value.reset();
            append_line(out, row);
            last_gap = sample.time_ms;
        }
        row.kind = take_ad ? QStringLiteral("ad") : QStringLiteral("weight");
        row.value = sample.value;
        append_line(out, row);
        last = sample.time_ms;
    }
    return out;
}

}  // namespace pondara::csv
