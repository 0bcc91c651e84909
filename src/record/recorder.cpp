#include "record/recorder.h"

#include "serial/module_texts.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>

#include <cstring>

// Files begun, rotated and closed; silent unless enabled.
Q_LOGGING_CATEGORY(lc_record, "pondara.record", QtWarningMsg)

namespace pondara {

namespace {

using Kind = ModuleEvent::Kind;

// A readout is stale after a second without a value, as on the screen.
constexpr std::int64_t stale_after_ms = 1000;

// How a command is named in a recording, and the module's answer to it.
struct CommandText {
    Leixing type;
    const char* command;
    const char* answer;
    bool has_value;  // the command carries a number
};

const CommandText command_texts[] = {
    {Leixing::zero, "置零", nullptr, false},
    {Leixing::calibrate, "标定", nullptr, true},
    {Leixing::write_zhouqi, "设置 写入采样周期", "采样周期已写入", true},
    {Leixing::read_zhouqi, "设置 读取采样周期", "采样周期", false},
    {Leixing::write_kuandu, "设置 写入滤波宽度", "滤波宽度已写入", true},
    {Leixing::read_kuandu, "设置 读取滤波宽度", "滤波宽度", false},
};

const CommandText* command_text(std::uint8_t type)
{
    for (const CommandText& text : command_texts) {
        if (static_cast<std::uint8_t>(text.type) == type)
            return &text;
    }
    return nullptr;
}

QString answer_text(std::uint8_t type)
{
    if (type == static_cast<std::uint8_t>(Leixing::zero))
        return messages::zero_done;
    if (type == static_cast<std::uint8_t>(Leixing::calibrate))
        return messages::calibration_done;
    const CommandText* text = command_text(type);
    return text ? QString::fromUtf8(text->answer) : QStringLiteral("类型 %1").arg(type);
}

QString drop_text(LinkHealth::Drop drop)
{
    switch (drop) {
    case LinkHealth::Drop::header:
        return QStringLiteral("帧头错误");
    case LinkHealth::Drop::checksum:
        return QStringLiteral("校验错误");
    case LinkHealth::Drop::short_reply:
        break;
    }
    return QStringLiteral("不完整");
}

bool is_poll(const Command& command)
{
    return command.leixing == static_cast<std::uint8_t>(Leixing::read_ad)
           || command.leixing == static_cast<std::uint8_t>(Leixing::read_weight);
}

// Fills the kind, value and detail of a request: polls make no row.
bool describe_request(const ModuleEvent& event, csv::Row& row)
{
    if (is_poll(event.command))
        return false;
    const CommandText* text = command_text(event.command.leixing);
    QString name = text ? QString::fromUtf8(text->command) : QStringLiteral("类型 %1").arg(event.command.leixing);
    if (text && text->has_value) {
        row.value = command_value(event.command);
        name += QStringLiteral(" %1").arg(*row.value);
    }
    row.kind = QStringLiteral("command");
    row.detail = name + QStringLiteral(": ") + packet_hex(event.bytes);
    if (event.unsent)
        row.detail += QStringLiteral("（未发送：上一请求仍在输出）");
    return true;
}

void describe_reply(const ModuleEvent& event, csv::Row& row)
{
    row.value = event.value;
    if (event.type == static_cast<std::uint8_t>(Leixing::read_ad)) {
        row.kind = QStringLiteral("ad");
    } else if (event.type == static_cast<std::uint8_t>(Leixing::read_weight)) {
        row.kind = QStringLiteral("weight");
    } else {
        row.kind = QStringLiteral("answer");
        row.detail = answer_text(event.type);
    }
}

QString base_name(std::int64_t wall_ms, int port_number, int address)
{
    return QStringLiteral("pondara-%1-com%2-addr%3")
        .arg(QDateTime::fromMSecsSinceEpoch(wall_ms).toString(QStringLiteral("yyyyMMdd-HHmmss")))
        .arg(port_number)
        .arg(address);
}

std::int64_t next_midnight_ms(std::int64_t wall_ms)
{
    return QDateTime::fromMSecsSinceEpoch(wall_ms).date().addDays(1).startOfDay().toMSecsSinceEpoch();
}

}  // namespace

Recorder::Recorder(QObject* parent) : QObject(parent), m_flush(new QTimer(this)), m_sync(new QTimer(this))
{
    setObjectName(QStringLiteral("recorder"));
    m_flush->setSingleShot(true);
    m_flush->setInterval(flush_ms);
    connect(m_flush, &QTimer::timeout, this, &Recorder::flush);
    m_sync->setSingleShot(true);
    m_sync->setInterval(sync_ms);
    connect(m_sync, &QTimer::timeout, this, &Recorder::sync);
}

Recorder::~Recorder() { stop(); }

void Recorder::watch(ModuleLink& link)
{
    const ModuleLink* key = &link;
    m_tracks.insert(key, Track {link.health().state(), std::nullopt, std::nullopt, link.port_number()});
    connect(&link, &ModuleLink::module_event, this, [this, key](const ModuleEvent& event) { take(key, event); });
    connect(&link, &QObject::destroyed, this, [this, key] { m_tracks.remove(key); });
}

bool Recorder::start(const QString& folder, int port_number, int address)
{
    stop();
    m_folder = folder;
    m_port_number = port_number;
    m_address = address;
    m_start_ms = steady_ms();
    m_rows = 0;
    QDir().mkpath(folder);  // a failure shows as the file's
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (!open_file(now))
        return false;
    csv::Row note;
    note.wall_ms = now;
    note.kind = QStringLiteral("note");
    note.detail = QStringLiteral("开始记录");
    add(note);
    emit state_changed();
    return true;
}

void Recorder::stop()
{
    if (!m_file)
        return;
    csv::Row note;
    note.wall_ms = QDateTime::currentMSecsSinceEpoch();
    note.ms = steady_ms() - m_start_ms;
    note.kind = QStringLiteral("note");
    note.detail = QStringLiteral("停止记录");
    add(note);
    if (!m_file)
        return;  // the note needed a new file, and that failed
    flush();
    if (!m_file)
        return;
    const QString path = m_file->path();
    if (const int error = m_file->sync())
        return fail(path, error);
    qCDebug(lc_record).noquote() << "closed" << path << m_rows << "rows";
    m_file.reset();
    m_flush->stop();
    m_sync->stop();
    emit state_changed();
}

void Recorder::annotate(const ModuleLink& link, const QString& kind, std::optional<std::int64_t> value,
                        const QString& detail)
{
    if (!m_file)
        return;
    const Track track = m_tracks.value(&link);
    csv::Row row;
    row.wall_ms = QDateTime::currentMSecsSinceEpoch();
    const std::int64_t now = steady_ms();
    row.ms = now - m_start_ms;
    row.kind = kind;
    row.value = value;
    row.link = link_state_text(track.state);
    row.stale = !track.last_value_ms || now - *track.last_value_ms > stale_after_ms;
    row.port = track.port;
    row.address = track.address.value_or(m_address);
    row.detail = detail;
    add(row);
}

void Recorder::take(const ModuleLink* link, const ModuleEvent& event)
{
    Track& track = m_tracks[link];
    const LinkHealth::State before = track.state;
    track.state = event.link;
    if (event.kind == Kind::request_sent)
        track.address = event.bytes[1];
    if (event.kind == Kind::opened)
        track.port = event.port_number;
    if (!m_file)
        return;
    csv::Row row = row_for(event, track);
    if (!row.kind.isEmpty())
        add(row);
    const bool left_ok = before == LinkHealth::State::ok
                         && (event.link == LinkHealth::State::no_reply || event.link == LinkHealth::State::bad_data);
    if (left_ok && m_file) {
        row.kind = QStringLiteral("gap");
        row.value.reset();
        row.detail.clear();
        add(row);
    }
}

csv::Row Recorder::row_for(const ModuleEvent& event, Track& track) const
{
    csv::Row row;
    row.wall_ms = event.wall_ms;
    row.ms = event.mono_ms - m_start_ms;
    row.link = link_state_text(event.link);
    row.port = event.port_number;
    row.address = track.address.value_or(m_address);
    switch (event.kind) {
    case Kind::opened:
        row.kind = QStringLiteral("open");
        row.detail = event.device;
        break;
    case Kind::closed:
        row.kind = QStringLiteral("close");
        row.detail = event.device;
        break;
    case Kind::lost:
        row.kind = QStringLiteral("lost");
        row.detail = event.device + QStringLiteral(": ") + event.loss.detail;
        break;
    case Kind::request_sent:
        describe_request(event, row);
        break;
    case Kind::reply_accepted:
        row.address = event.bytes[1];
        describe_reply(event, row);
        if (row.kind != QLatin1String("answer"))
            track.last_value_ms = event.mono_ms;
        break;
    case Kind::reply_dropped:
        row.kind = QStringLiteral("dropped");
        row.detail = drop_text(event.drop) + QStringLiteral(": ") + packet_hex(event.bytes, event.byte_count);
        break;
    case Kind::exchange_silent:
        break;
    }
    row.stale = !track.last_value_ms || event.mono_ms - *track.last_value_ms > stale_after_ms;
    return row;
}

void Recorder::add(const csv::Row& row)
{
    QByteArray line;
    csv::append_line(line, row);
    const bool too_big = m_file->size() + m_pending.size() + line.size() > m_size_limit && m_rows_in_file > 0;
    if (row.wall_ms >= m_next_midnight_ms || too_big) {
        flush();
        if (!m_file)
            return;
        const QString previous = QFileInfo(m_file->path()).fileName();
        m_file->sync();
        if (!open_file(row.wall_ms))
            return;
        csv::Row note = row;
        note.kind = QStringLiteral("note");
        note.value.reset();
        note.detail = QStringLiteral("接续 ") + previous;
        csv::append_line(m_pending, note);
        ++m_rows;
        ++m_rows_in_file;
        emit state_changed();
    }
    const bool first_waiting = m_pending.isEmpty();
    m_pending += line;
    ++m_rows;
    ++m_rows_in_file;
    if (first_waiting) {
        m_pending_since_ms = steady_ms();
        m_flush->start();
    } else if (steady_ms() - m_pending_since_ms >= early_flush_ms) {
        flush();
    }
}

bool Recorder::open_file(std::int64_t wall_ms)
{
    QString path;
    int error = 0;
    auto file
        = RecordFile::create(m_folder, base_name(wall_ms, m_port_number, m_address), csv::file_start(), path, error);
    if (!file) {
        fail(path, error);
        return false;
    }
    qCDebug(lc_record).noquote() << "recording to" << path;
    m_file = std::move(file);
    m_rows_in_file = 0;
    m_next_midnight_ms = next_midnight_ms(wall_ms);
    return true;
}

void Recorder::flush()
{
    m_flush->stop();
    if (!m_file || m_pending.isEmpty())
        return;
    if (const int error = m_file->write(m_pending))
        return fail(m_file->path(), error);
    m_pending.clear();
    if (!m_sync->isActive())
        m_sync->start();
}

void Recorder::sync()
{
    if (!m_file)
        return;
    if (const int error = m_file->sync())
        fail(m_file->path(), error);
}

void Recorder::fail(QString path, int error_number)
{
    qCInfo(lc_record).noquote() << "stopped:" << path << std::strerror(error_number);
    m_pending.clear();
    m_file.reset();
    m_flush->stop();
    m_sync->stop();
    emit state_changed();
    emit failed(QStringLiteral("记录已停止：无法写入 %1：%2")
                    .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(error_number))));
}

}  // namespace pondara
