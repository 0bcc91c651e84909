#pragma once

#include "trend_data/trend_history.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace pondara::csv {

// One line of a recording or of a trend export. Every file in this format
// starts with file_start() and holds one such line per row:
//   time,ms,kind,value,link,stale,port,address,detail
// `time` is the local time with milliseconds and the UTC offset, `ms` the
// monotonic milliseconds since the file's recording began. Numbers never
// follow the locale, so a comma-decimal spreadsheet reads the same file.
struct Row {
    std::int64_t wall_ms = 0;  // ms since the epoch
    std::int64_t ms = 0;
    QString kind;  // ad, weight, gap, open, close, lost, command, answer, check, dropped, note
    std::optional<std::int64_t> value;
    QString link;  // the link's state as the operator reads it, or empty
    bool stale = false;  // no value accepted within the last second
    std::optional<int> port;
    std::optional<int> address;
    QString detail;
};

// The UTF-8 byte order mark, so that spreadsheet programs read the Chinese
// texts, and the header line.
QByteArray file_start();

// Appends the row as one CRLF-terminated line, its texts quoted where they
// hold a comma, a quote or a line break.
void append_line(QByteArray& out, const Row& row);

// Where recordings and exports are offered to go: the user's documents
// folder's PondaraV6.
QString default_folder();

// Appends "2026-01-01T08:00:00.123+08:00", in the zone of the machine.
void append_local_time(QByteArray& out, std::int64_t wall_ms);

// The samples of `history` in (from_ms, to_ms] on its clock, both channels
// in time order, as a whole file: a note, an `ad` or `weight` row per
// sample, and one `gap` row where the values resumed after a gap. `ms`
// counts from from_ms; `wall_at_to_ms` is the wall clock at to_ms.
QByteArray history_file(const TrendHistory& history, std::int64_t from_ms, std::int64_t to_ms,
                        std::int64_t wall_at_to_ms, const QString& note);

}  // namespace pondara::csv
