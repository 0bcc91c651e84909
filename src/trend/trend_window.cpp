#include "trend/trend_window.h"

#include "trend_data/trend_stats.h"
#include "ui/look.h"
#include "ui/motion_view.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <optional>

namespace pondara {

namespace {

constexpr qreal text_points = 10.5;
constexpr std::size_t last_count = 10;
// Many gaps in view (a link that keeps dropping) would make many series:
// beyond this the oldest runs are drawn joined.
constexpr std::size_t max_runs = 40;
const QString none = QStringLiteral("—");

QString whole(double value) { return QString::number(value, 'f', 0); }
QString two_decimals(double value) { return QString::number(value, 'f', 2); }

// A label that shows a value: its accessible name is its caption followed by
// the value ("AD值 窗口内 平均值 524288.00"), so that assistive technology
// reads the value too.
constexpr char caption_property[] = "pondara_caption";

void set_text(QLabel* label, const QString& text)
{
    if (!label || label->text() == text)
        return;
    label->setText(text);
    label->setAccessibleName(label->property(caption_property).toString() + QLatin1Char(' ') + text);
}

QLabel* value_label(QWidget* parent, const QString& name, const QString& caption)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setProperty(caption_property, caption);
    set_text(label, none);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setFont(look::song_font(text_points));
    // Wide enough for 16777215.00, and of a fixed size: a new number then
    // repaints the label alone, without laying out the window again, and an
    // opaque background spares repainting the box behind it.
    label->setFixedSize(label->fontMetrics().horizontalAdvance(QStringLiteral("16777215.00")) + 4,
                        label->sizeHint().height());
    label->setAutoFillBackground(true);
    return label;
}

// Samples in (from_ms, to_ms], plus the one before, so the line reaches the
// left edge.
std::pair<TrendSamples::const_iterator, TrendSamples::const_iterator> visible(const TrendSamples& samples,
                                                                              std::int64_t from_ms, std::int64_t to_ms)
{
    auto first = first_after(samples, from_ms);
    if (first != samples.begin())
        --first;
    return {first, first_after(samples, to_ms)};
}

// The statistics beside each plot, one row each: how the label is named,
// its caption, its tooltip and how it shows a summary. The AD-only rows come
// last.
struct StatRow {
    const char* key;
    QString caption;
    QString tip;
    bool ad_only;
    QString (*show)(const TrendSummary& summary);
};

const StatRow stat_rows[] {
    {"count", QStringLiteral("数量"), {}, false, [](const TrendSummary& s) { return QString::number(s.count); }},
    {"mean",
     QStringLiteral("平均值"),
     {},
     false,
     [](const TrendSummary& s) { return s.count > 0 ? two_decimals(s.mean) : none; }},
    {"deviation", QStringLiteral("标准差"), QStringLiteral("样本标准差（除以 n − 1），至少两个值"), false,
     [](const TrendSummary& s) { return s.deviation ? two_decimals(*s.deviation) : none; }},
    {"minimum",
     QStringLiteral("最小值"),
     {},
     false,
     [](const TrendSummary& s) { return s.count > 0 ? QString::number(s.minimum) : none; }},
    {"maximum",
     QStringLiteral("最大值"),
     {},
     false,
     [](const TrendSummary& s) { return s.count > 0 ? QString::number(s.maximum) : none; }},
    {"peak_to_peak", QStringLiteral("峰峰值"), QStringLiteral("最大值 − 最小值"), false,
     [](const TrendSummary& s) { return s.count > 0 ? QString::number(s.peak_to_peak()) : none; }},
    {"noise_free_counts", QStringLiteral("无噪声计数"),
     QStringLiteral("满量程 16777215 ÷ 峰峰值（峰峰值为 0 时按 1 计）"), true,
     [](const TrendSummary& s) { return s.count > 0 ? whole(noise_free_counts(s.peak_to_peak())) : none; }},
    {"noise_free_bits", QStringLiteral("无噪声位数"), QStringLiteral("log2(无噪声计数)"), true,
     [](const TrendSummary& s) { return s.count > 0 ? two_decimals(noise_free_bits(s.peak_to_peak())) : none; }},
};

QList<QPointF> points_of(const PlotRun& run)
{
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(run.size()));
    for (const PlotPoint& point : run)
        points.append({point.seconds_ago, point.value});
    return points;
}

}  // namespace

TrendWindow::TrendWindow(TrendSource& source) : QWidget(nullptr, Qt::Window), m_source(source)
{
    setObjectName(QStringLiteral("trend"));
    setWindowTitle(QStringLiteral("趋势图 - PondaraV6"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(look::twips_size(this, 12600, 9000));
    setFont(look::song_font(text_points));

    auto* span_label = new QLabel(QStringLiteral("时间窗口"), this);
    span_label->setObjectName(QStringLiteral("span_label"));
    m_span = new QComboBox(this);
    m_span->setObjectName(QStringLiteral("span"));
    for (const Span& s : spans)
        m_span->addItem(s.seconds < 3600 ? QStringLiteral("%1 分钟").arg(s.seconds / 60) : QStringLiteral("1 小时"));
    span_label->setBuddy(m_span);
    m_pause = new QPushButton(QStringLiteral("暂停"), this);
    m_pause->setObjectName(QStringLiteral("pause"));
    m_pause->setCheckable(true);
    m_pause->setAutoDefault(false);
    m_pause->setToolTip(QStringLiteral("冻结曲线和统计；数据照常记录，继续后补上"));
    m_clear = new QPushButton(QStringLiteral("清除"), this);
    m_clear->setObjectName(QStringLiteral("clear"));
    m_clear->setAutoDefault(false);
    m_clear->setToolTip(QStringLiteral("清除已记录的全部数据"));

    auto* bar = new QHBoxLayout;
    bar->addWidget(span_label);
    bar->addWidget(m_span);
    bar->addSpacing(look::twips_size(this, 360, 0).width());
    bar->addWidget(m_pause);
    bar->addWidget(m_clear);
    bar->addStretch(1);

    m_ad.channel = TrendHistory::Channel::ad;
    m_ad.colour = QColor(Qt::blue);
    m_weight.channel = TrendHistory::Channel::weight;
    m_weight.colour = QColor(Qt::red);

    // Plots on the left, their statistics beside them, both columns aligned.
    auto* grid = new QGridLayout;
    grid->addWidget(build_plot(m_ad, QStringLiteral("AD值"), "ad"), 0, 0);
    grid->addWidget(build_stats(m_ad, QStringLiteral("AD值"), "ad"), 0, 1);
    grid->addWidget(build_plot(m_weight, QStringLiteral("重量"), "weight"), 1, 0);
    grid->addWidget(build_stats(m_weight, QStringLiteral("重量"), "weight"), 1, 1);
    grid->setColumnStretch(0, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addLayout(grid, 1);

    QWidget::setTabOrder(m_span, m_pause);
    QWidget::setTabOrder(m_pause, m_clear);

    m_redraw = new QTimer(this);
    m_redraw->setObjectName(QStringLiteral("redraw"));
    connect(m_redraw, &QTimer::timeout, this, &TrendWindow::redraw);
    connect(m_span, &QComboBox::currentIndexChanged, this, &TrendWindow::span_changed);
    connect(m_pause, &QPushButton::toggled, this, &TrendWindow::pause_toggled);
    connect(m_clear, &QPushButton::clicked, this, &TrendWindow::clear_clicked);
    redraw();
}

QChartView* TrendWindow::build_plot(Plot& plot, const QString& title, const char* name)
{
    plot.chart = new QChart;
    plot.chart->setTitle(title);
    plot.chart->setTitleFont(look::song_font(text_points));
    plot.chart->legend()->hide();
    plot.chart->setAnimationOptions(QChart::NoAnimation);
    plot.chart->setMargins(QMargins(4, 2, 4, 2));
    plot.chart->setBackgroundRoundness(0);

    plot.x = new QValueAxis;
    plot.x->setTitleText(QStringLiteral("秒前"));
    plot.x->setTitleFont(look::song_font(9));
    plot.x->setLabelsFont(look::song_font(9));
    plot.x->setLabelFormat(QStringLiteral("%.0f"));
    plot.x->setReverse(true);
    plot.x->setTickCount(7);
    plot.y = new QValueAxis;
    plot.y->setLabelsFont(look::song_font(9));
    plot.y->setLabelFormat(QStringLiteral("%.0f"));
    plot.chart->addAxis(plot.x, Qt::AlignBottom);
    plot.chart->addAxis(plot.y, Qt::AlignLeft);

    plot.view = new QChartView(plot.chart, this);
    plot.view->setObjectName(QLatin1String(name) + QStringLiteral("_chart"));
    plot.view->setAccessibleName(title + QStringLiteral("趋势"));
    plot.view->setRenderHint(QPainter::Antialiasing);
    plot.view->setFocusPolicy(Qt::NoFocus);
    plot.view->setMinimumSize(look::twips_size(this, 5400, 2400));
    return plot.view;
}

QWidget* TrendWindow::build_stats(Plot& plot, const QString& title, const char* name)
{
    auto* box = new QWidget(this);
    box->setObjectName(QLatin1String(name) + QStringLiteral("_stats"));
    auto* grid = new QGridLayout(box);
    grid->setHorizontalSpacing(look::twips_size(this, 180, 0).width());
    const auto heading = [box](const QString& text, Qt::Alignment alignment) {
        auto* label = new QLabel(text, box);
        label->setAlignment(alignment | Qt::AlignVCenter);
        QFont font = label->font();
        font.setWeight(QFont::Bold);
        label->setFont(font);
        return label;
    };
    grid->addWidget(heading(title + QStringLiteral("统计"), Qt::AlignLeft), 0, 0);
    grid->addWidget(heading(QStringLiteral("窗口内"), Qt::AlignRight), 0, 1);
    grid->addWidget(heading(QStringLiteral("最近10个"), Qt::AlignRight), 0, 2);

    const bool ad = plot.channel == TrendHistory::Channel::ad;
    int r = 1;
    for (const StatRow& row : stat_rows) {
        if (row.ad_only && !ad)
            continue;
        auto* caption = new QLabel(row.caption, box);
        caption->setToolTip(row.tip);
        grid->addWidget(caption, r, 0);
        for (int c = 0; c < 2; ++c) {
            Column& column = c == 0 ? plot.window : plot.last10;
            const QString where = c == 0 ? QStringLiteral("window") : QStringLiteral("last10");
            QLabel* value = value_label(
                box, QStringLiteral("%1_%2_%3").arg(QLatin1String(name), where, QLatin1String(row.key)),
                QStringLiteral("%1 %2 %3")
                    .arg(title, c == 0 ? QStringLiteral("窗口内") : QStringLiteral("最近10个"), row.caption));
            value->setToolTip(row.tip);
            column.push_back(value);
            grid->addWidget(value, r, c + 1);
        }
        ++r;
    }
    if (!ad) {
        auto* caption = new QLabel(QStringLiteral("稳定性"), box);
        m_stability_caption = caption;
        m_stability = new QLabel(box);
        m_stability->setObjectName(QStringLiteral("weight_stability"));
        m_stability->setProperty(caption_property, QStringLiteral("重量稳定性"));
        set_text(m_stability, none);
        m_stability->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont bold = look::song_font(12);
        bold.setWeight(QFont::Bold);
        m_stability->setFont(bold);
        grid->addWidget(caption, r, 0);
        grid->addWidget(m_stability, r, 1, 1, 2);
        ++r;
    }
    grid->setRowStretch(r, 1);
    return box;
}

const TrendWindow::Span& TrendWindow::span() const
{
    return spans[static_cast<std::size_t>(std::clamp<int>(m_span->currentIndex(), 0, spans.size() - 1))];
}

void TrendWindow::redraw()
{
    const std::int64_t now = m_pause->isChecked() ? m_frozen_ms : m_source.now_ms();
    const std::int64_t span_ms = span().seconds * std::int64_t {1000};
    for (Plot* plot : {&m_ad, &m_weight}) {
        draw_plot(*plot, now, span_ms);
        const TrendSamples& samples = m_source.history().samples(plot->channel);
        show_column(plot->window, summarize(values_between(samples, now - span_ms, now)));
        show_column(plot->last10, summarize(last_values(samples, now, last_count)));
    }
    show_stability(now);
}

void TrendWindow::draw_plot(Plot& plot, std::int64_t now_ms, std::int64_t span_ms)
{
    const TrendSamples& samples = m_source.history().samples(plot.channel);
    const auto [first, last] = visible(samples, now_ms - span_ms, now_ms);

    // Where there are more values than the plot has room for, each run keeps
    // the lowest and the highest of every two pixels.
    const double plot_px = plot.chart->plotArea().width();
    const bool thin = plot_px >= 10 && static_cast<double>(last - first) > plot_px;
    const double bucket_s = thin ? 2.0 * static_cast<double>(span_ms) / 1000.0 / plot_px : 0.0;
    const std::vector<PlotRun> runs = plot_runs(first, last, now_ms, bucket_s, max_runs);

    while (plot.runs.size() < runs.size()) {
        auto* series = new QLineSeries;
        series->setObjectName(QStringLiteral("run"));
        // A cosmetic one-pixel pen is drawn without outlining the path: a
        // quarter of the cost of a wider one.
        QPen pen(plot.colour);
        pen.setWidth(1);
        pen.setCosmetic(true);
        series->setPen(pen);
        plot.chart->addSeries(series);
        series->attachAxis(plot.x);
        series->attachAxis(plot.y);
        plot.runs.push_back(series);
    }
    for (std::size_t i = 0; i < plot.runs.size(); ++i) {
        if (i < runs.size())
            plot.runs[i]->replace(points_of(runs[i]));
        else if (plot.runs[i]->count() > 0)
            plot.runs[i]->clear();
    }

    if (plot.x->max() != span_ms / 1000.0)
        plot.x->setRange(0.0, static_cast<double>(span_ms) / 1000.0);
    if (first == last)
        return;
    const auto [low, high]
        = std::minmax_element(first, last, [](const auto& a, const auto& b) { return a.value < b.value; });
    const double lowest = low->value;
    const double highest = high->value;
    // The value axis follows the data, but only when it leaves the axis or
    // fills less than a quarter of it, so the labels do not change at every
    // redraw.
    const double pad = std::max(2.0, (highest - lowest) * 0.1);
    const double want = highest - lowest + 2 * pad;
    const bool fits = plot.y->min() <= lowest && highest <= plot.y->max();
    if (!fits || plot.y->max() - plot.y->min() > 4 * want) {
        plot.y->setRange(lowest - pad, highest + pad);
        plot.y->applyNiceNumbers();
    }
}

void TrendWindow::show_column(const Column& column, const TrendSummary& summary)
{
    // The labels were made in the order of the rows, AD-only rows last.
    for (std::size_t i = 0; i < column.size(); ++i)
        set_text(column[i], stat_rows[i].show(summary));
}

void TrendWindow::show_stability(std::int64_t now_ms)
{
    const MotionRule rule = m_source.motion_rule();
    const MotionReading reading
        = motion_at(m_source.history().samples(TrendHistory::Channel::weight), rule, now_ms, m_source.link_ok());
    if (const QString tip = motion_tooltip(rule, reading); m_stability->toolTip() != tip) {
        m_stability->setToolTip(tip);
        m_stability_caption->setToolTip(tip);
    }
    const QString text = reading.motion == Motion::unknown ? none : motion_text(reading.motion);
    if (m_stability->text() != text) {
        QPalette p = m_stability->palette();
        p.setColor(QPalette::WindowText, reading.motion == Motion::unknown ? palette().color(QPalette::WindowText)
                                                                           : motion_colour(reading.motion));
        m_stability->setPalette(p);
        set_text(m_stability, text);
    }
}

void TrendWindow::span_changed()
{
    redraw();
    update_timer();
}

void TrendWindow::pause_toggled(bool paused)
{
    m_pause->setText(paused ? QStringLiteral("继续") : QStringLiteral("暂停"));
    if (paused)
        m_frozen_ms = m_source.now_ms();
    else
        redraw();
    update_timer();
}

void TrendWindow::clear_clicked()
{
    m_source.clear_history();
    redraw();
}

void TrendWindow::update_timer()
{
    const bool live = isVisible() && !isMinimized() && !m_pause->isChecked();
    if (!live) {
        m_redraw->stop();
        return;
    }
    if (!m_redraw->isActive() || m_redraw->interval() != span().redraw_ms)
        m_redraw->start(span().redraw_ms);
}

void TrendWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    redraw();
    update_timer();
}

void TrendWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    update_timer();
}

void TrendWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        if (!isMinimized() && !m_pause->isChecked())
            redraw();
        update_timer();
    }
}

}  // namespace pondara

// The module's plug-in object, found by its interface when the window is first
// opened.
class TrendWindowModule : public QObject, public pondara::TrendWindowPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PondaraTrendWindowPlugin_iid FILE "trend_module.json")
    Q_INTERFACES(pondara::TrendWindowPlugin)

public:
    QWidget* make_window(pondara::TrendSource& source) override { return new pondara::TrendWindow(source); }
};

#include "trend_window.moc"
