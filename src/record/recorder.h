#pragma once

#include "record/record_file.h"
#include "serial/module_link.h"
#include "trend_data/csv_row.h"

#include <QHash>
#include <QObject>

#include <cstdint>
#include <memory>

class QTimer;

namespace pondara {

// Records what happens on the module links it watches, one CSV row per
// value, gap, opening, closing, loss, command, answer and dropped reply,
// while a recording runs. It only listens: it never sends or delays a byte.
// Rows wait in memory and go to the file in one write within a second,
// which is what a kill -9 can lose; what was written reaches the disk within
// 10 s, and at the end. A new file begins at local midnight and when one would
// outgrow the size limit. When the file cannot be written the recording
// stops and failed() says why, once.
class Recorder : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 default_size_limit = 100 * 1024 * 1024;
    // Rows wait at most this long for their write; while rows keep coming
    // the write goes with the row that finds the oldest waiting this long,
    // so polling wakes no timer of the recorder.
    static constexpr int flush_ms = 900;
    static constexpr int early_flush_ms = 800;
    // Written rows reach the disk within this long.
    static constexpr int sync_ms = 10'000;

    explicit Recorder(QObject* parent = nullptr);
    ~Recorder() override;

    // Records `link`'s events from now on, while a recording runs, until
    // the link goes.
    void watch(ModuleLink& link);

    // Starts a recording in `folder` (made when missing), named after the
    // time, `port_number` and the module `address`. False when the file
    // cannot be made; failed() then says why.
    bool start(const QString& folder, int port_number, int address);
    // While a recording runs, adds a row of `kind` about `link` (one it
    // watches) that no event of the link makes: the program's own findings,
    // with the link's state, port and address as they are now.
    void annotate(const ModuleLink& link, const QString& kind, std::optional<std::int64_t> value,
                  const QString& detail);

    // Writes what waits, syncs and closes the file.
    void stop();

    bool recording() const { return m_file != nullptr; }
    QString file_path() const { return m_file ? m_file->path() : QString(); }
    std::int64_t rows() const { return m_rows; }
    // Bytes in the file and waiting for it.
    qint64 bytes() const { return m_file ? m_file->size() + m_pending.size() : 0; }

    // Tests make files small.
    void set_size_limit(qint64 bytes) { m_size_limit = bytes; }

signals:
    // Started, stopped, or went on in a new file.
    void state_changed();
    // The recording stopped on an error: the operator's sentence.
    void failed(const QString& message);

private:
    // What the rows of one link need from its earlier events.
    struct Track {
        LinkHealth::State state = LinkHealth::State::closed;
        std::optional<int> address;
        std::optional<std::int64_t> last_value_ms;  // steady clock
        int port = 0;
    };

    void take(const ModuleLink* link, const ModuleEvent& event);
    csv::Row row_for(const ModuleEvent& event, Track& track) const;
    void add(const csv::Row& row);
    bool open_file(std::int64_t wall_ms);
    void flush();
    void sync();
    void fail(QString path, int error_number);

    QHash<const ModuleLink*, Track> m_tracks;
    std::unique_ptr<RecordFile> m_file;
    QString m_folder;
    int m_port_number = 0;
    int m_address = 0;
    QByteArray m_pending;
    std::int64_t m_rows = 0;
    std::int64_t m_rows_in_file = 0;
    std::int64_t m_start_ms = 0;  // steady clock
    std::int64_t m_next_midnight_ms = 0;  // wall clock
    std::int64_t m_pending_since_ms = 0;  // steady clock
    qint64 m_size_limit = default_size_limit;
    QTimer* m_flush = nullptr;
    QTimer* m_sync = nullptr;
};

}  // namespace pondara
