#include "scan/scan_window.h"

#include "serial/logging.h"
#include "serial/module_link.h"
#include "ui/look.h"
#include "ui/messages.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

namespace pondara {

namespace {

constexpr qreal points = 12;

enum Column { port_column, device_column, address_column, value_column, time_column, note_column, column_count };

// The number a port box's text starts with: "3" or "3 = /dev/pts/4".
std::optional<int> port_number_of(const QString& text)
{
    const auto number = text_to_int16(text.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty));
    if (!number || number.value() < 1)
        return std::nullopt;
    return number.value();
}

// A whole number typed in a box, within low..high.
std::optional<int> whole_in(const QLineEdit* box, int low, int high)
{
    const auto number = text_to_int16(box->text());
    if (!number || number.value() < low || number.value() > high)
        return std::nullopt;
    return number.value();
}

QTableWidgetItem* cell(const QString& text, const QVariant& data = {})
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (data.isValid())
        item->setData(Qt::UserRole, data);
    return item;
}

}  // namespace

ScanWindow::ScanWindow(ScanHost host, PortFactory make_port, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_host(std::move(host)),
      m_scan(std::move(make_port))
{
    setObjectName(QStringLiteral("scan"));
    setWindowTitle(QStringLiteral("查找模块 - PondaraV6"));
    setAttribute(Qt::WA_DeleteOnClose);
    build_controls();

    connect(&m_scan, &ModuleScan::probing, this, [this](int port_number, int address) {
        m_progress->setValue(m_scan.done());
        m_progress->setFormat(QStringLiteral("串口 %1  地址 %2").arg(port_number).arg(address));
        m_progress->setAccessibleName(m_progress->format());
    });
    connect(&m_scan, &ModuleScan::found, this, &ScanWindow::add_row);
    connect(&m_scan, &ModuleScan::port_skipped, this, [this](int port_number, const OpenFailure& failure) {
        note(messages::port_skipped(port_number, failure));
    });
    connect(&m_scan, &ModuleScan::port_done, this, [this](int port_number, const QString& device, int stray) {
        if (stray > 0)
            note(messages::stray_bytes(port_number, device, stray));
    });
    connect(&m_scan, &ModuleScan::finished, this, &ScanWindow::finished);
}

ScanWindow::~ScanWindow() = default;

void ScanWindow::build_controls()
{
    setFixedSize(look::twips_size(this, 9000, 6720));
    using look::make_box, look::make_button, look::make_label;

    m_port = new QComboBox(this);
    m_port->setObjectName(QStringLiteral("port"));
    m_port->setEditable(true);
    m_port->setInsertPolicy(QComboBox::NoInsert);
    m_port->setFont(look::song_font(points));
    look::place(m_port, {1320, 120, 3480, 375});
    fill_port_choices();
    make_label(this, "port_label", QStringLiteral("串口"), m_port, {120, 120, 1200, 375}, points);
    m_wait = make_box(this, "wait", QString::number(ModuleScan::default_wait_ms), {6600, 120, 900, 375}, points);
    make_label(this, "wait_label", QStringLiteral("等待毫秒"), m_wait, {5160, 120, 1440, 375}, points);
    m_first = make_box(this, "first", QStringLiteral("0"), {1320, 600, 900, 375}, points);
    make_label(this, "first_label", QStringLiteral("起始地址"), m_first, {120, 600, 1200, 375}, points);
    m_last = make_box(this, "last", QStringLiteral("255"), {3720, 600, 900, 375}, points);
    make_label(this, "last_label", QStringLiteral("结束地址"), m_last, {2520, 600, 1200, 375}, points);
    m_wait->setToolTip(QStringLiteral("每个地址等待应答的时间，%1 到 %2 毫秒")
                           .arg(ModuleScan::min_wait_ms)
                           .arg(ModuleScan::max_wait_ms));

    m_start = make_button(this, "start", QStringLiteral("开始"), {120, 1080, 1095, 450}, points);
    m_stop = make_button(this, "stop", QStringLiteral("停止"), {1320, 1080, 1095, 450}, points);
    m_use = make_button(this, "use", QStringLiteral("使用"), {2520, 1080, 1095, 450}, points);
    m_use->setToolTip(QStringLiteral("把所选模块的串口号和地址填入主窗口"));

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setFont(look::song_font(points));
    m_progress->setValue(0);
    m_progress->setFormat(QString());
    look::place(m_progress, {1320, 1680, 7560, 375});
    make_label(this, "progress_label", QStringLiteral("进度"), m_progress, {120, 1680, 1200, 375}, points);

    m_results = new QTableWidget(0, column_count, this);
    m_results->setObjectName(QStringLiteral("results"));
    m_results->setFont(look::song_font(points));
    m_results->setHorizontalHeaderLabels({QStringLiteral("串口"), QStringLiteral("设备"), QStringLiteral("地址"),
                                          QStringLiteral("AD值"), QStringLiteral("应答(ms)"), QStringLiteral("备注")});
    m_results->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_results->setSelectionMode(QAbstractItemView::SingleSelection);
    m_results->verticalHeader()->hide();
    m_results->horizontalHeader()->setStretchLastSection(true);
    // A table takes no name from the label before it.
    m_results->setAccessibleName(QStringLiteral("找到的模块"));
    look::place(m_results, {120, 2520, 8760, 3000});
    for (int column = 0; column < note_column; ++column)
        m_results->resizeColumnToContents(column);
    make_label(this, "results_label", QStringLiteral("找到的模块（双击或“使用”填入主窗口）"), m_results,
               {120, 2160, 6000, 375}, points);

    m_status = look::make_note(this, "status", QString(), {120, 5640, 8760, 960}, points);

    for (auto [from, to] : {std::pair<QWidget*, QWidget*> {m_port, m_first},
                            {m_first, m_last},
                            {m_last, m_wait},
                            {m_wait, m_start},
                            {m_start, m_stop},
                            {m_stop, m_results},
                            {m_results, m_use}})
        setTabOrder(from, to);

    connect(m_start, &QPushButton::clicked, this, &ScanWindow::start_Click);
    connect(m_stop, &QPushButton::clicked, this, &ScanWindow::stop_Click);
    connect(m_use, &QPushButton::clicked, this, &ScanWindow::use_Click);
    connect(m_results, &QTableWidget::cellDoubleClicked, this, &ScanWindow::use_Click);
    running_controls(false);
}

void ScanWindow::fill_port_choices()
{
    m_port->addItem(all_ports);
    if (m_host.list_ports)
        m_port->addItems(m_host.list_ports());
    m_port->setEditText(m_host.port_text ? m_host.port_text() : QStringLiteral("1"));
}

std::optional<ModuleScan::Plan> ScanWindow::read_plan()
{
    ModuleScan::Plan plan;
    const QString port = m_port->currentText().trimmed();
    if (port == all_ports) {
        const QStringList lines = m_host.list_ports ? m_host.list_ports() : QStringList {};
        for (const QString& line : lines) {
            if (const auto number = port_number_of(line))
                plan.ports.append(*number);
        }
        if (plan.ports.isEmpty()) {
            note(QStringLiteral("本机没有可用的串口。"));
            return std::nullopt;
        }
    } else if (const auto number = port_number_of(port)) {
        plan.ports.append(*number);
    } else {
        note(QStringLiteral("串口：%1 不是串口号（1、2、3……）或“%2”。").arg(messages::quoted(port), all_ports));
        return std::nullopt;
    }
    const auto first = whole_in(m_first, 0, 255);
    const auto last = whole_in(m_last, 0, 255);
    if (!first || !last || *first > *last) {
        note(QStringLiteral("地址：起始和结束地址是 0 到 255 的整数，起始不大于结束。"));
        return std::nullopt;
    }
    const auto wait = whole_in(m_wait, ModuleScan::min_wait_ms, ModuleScan::max_wait_ms);
    if (!wait) {
        note(QStringLiteral("等待毫秒：%1 到 %2 的整数。").arg(ModuleScan::min_wait_ms).arg(ModuleScan::max_wait_ms));
        return std::nullopt;
    }
    plan.first = *first;
    plan.last = *last;
    plan.wait_ms = *wait;
    return plan;
}

void ScanWindow::start_Click()
{
    if (m_scan.running())
        return;
    m_notes.clear();
    note(QString());
    if (const QString why = m_host.cannot_start ? m_host.cannot_start() : QString(); !why.isEmpty()) {
        note(why);
        return;
    }
    const auto plan = read_plan();
    if (!plan)
        return;
    m_results->setRowCount(0);
    m_progress->setRange(0, static_cast<int>(plan->ports.size()) * (plan->last - plan->first + 1));
    m_progress->setValue(0);
    m_borrowed = m_host.borrow_port && m_host.borrow_port();
    if (m_borrowed)
        qCDebug(lc_port) << "main window: handing the port to the scan";
    running_controls(true);
    m_scan.start(*plan);
}

void ScanWindow::stop_Click() { m_scan.stop(); }

void ScanWindow::finished(bool stopped)
{
    running_controls(false);
    m_progress->setValue(m_scan.done());
    const QString done = stopped ? QStringLiteral("已停止") : QStringLiteral("完成");
    m_progress->setFormat(QStringLiteral("%1，找到 %2 个模块").arg(done).arg(m_results->rowCount()));
    m_progress->setAccessibleName(m_progress->format());
    const bool borrowed = std::exchange(m_borrowed, false);
    if (m_hand_back && m_host.give_back_port) {
        if (borrowed)
            qCDebug(lc_port) << "scan: handing the port back to the main window";
        m_host.give_back_port(borrowed);
    }
}

void ScanWindow::add_row(const ScanFind& find)
{
    const int row = m_results->rowCount();
    m_results->insertRow(row);
    m_results->setItem(row, port_column, cell(QString::number(find.port_number), find.port_number));
    m_results->setItem(row, device_column, cell(find.device));
    m_results->setItem(row, address_column, cell(QString::number(find.address), find.address));
    const bool ad = find.type == static_cast<std::uint8_t>(Leixing::read_ad);
    m_results->setItem(row, value_column, cell(QString::number(find.value)));
    m_results->setItem(row, time_column, cell(QString::number(find.answer_ms)));
    QStringList notes;
    if (find.answered_as != find.address)
        notes.append(QStringLiteral("应答中的地址为 %1").arg(find.answered_as));
    if (!ad)
        notes.append(QStringLiteral("应答类型为 %1").arg(find.type));
    m_results->setItem(row, note_column, cell(notes.join(QStringLiteral("；"))));
    for (int column = 0; column < note_column; ++column)
        m_results->resizeColumnToContents(column);
    if (row == 0)
        m_results->selectRow(0);
}

void ScanWindow::use_Click()
{
    const int row = m_results->currentRow();
    if (row < 0 || !m_host.use)
        return;
    m_host.use(m_results->item(row, port_column)->data(Qt::UserRole).toInt(),
               m_results->item(row, address_column)->data(Qt::UserRole).toInt());
}

// The status line: what the scan skipped and what it could not read, one
// line each; an empty line clears it.
void ScanWindow::note(const QString& line)
{
    if (line.isEmpty())
        m_notes.clear();
    else
        m_notes.append(line);
    m_status->setText(m_notes.join(QLatin1Char('\n')));
    m_status->setAccessibleName(m_status->text());
}

void ScanWindow::running_controls(bool running)
{
    for (QWidget* field : {static_cast<QWidget*>(m_port), static_cast<QWidget*>(m_first), static_cast<QWidget*>(m_last),
                           static_cast<QWidget*>(m_wait)})
        field->setEnabled(!running);
    m_start->setEnabled(!running);
    m_stop->setEnabled(running);
}

void ScanWindow::close_without_hand_back()
{
    m_hand_back = false;
    close();
}

void ScanWindow::closeEvent(QCloseEvent* event)
{
    // Closing ends the scan, which hands the port back.
    m_scan.stop();
    QWidget::closeEvent(event);
}

}  // namespace pondara
