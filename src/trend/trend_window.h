#pragma once

#include "trend_data/trend_history.h"
#include "trend_data/trend_source.h"

#include <QWidget>

#include <array>
#include <vector>

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

namespace pondara {

struct TrendSummary;

// The trend window: the raw AD value and the weight, each on its own plot
// against seconds ago, with the statistics of the visible window and of the
// last 10 values beside it. It reads the history the main window records
// and redraws a few times a second at most, never while hidden or paused.
class TrendWindow : public QWidget {
    Q_OBJECT

public:
    explicit TrendWindow(TrendSource& source);

    // The visible spans, and how often each is redrawn.
    struct Span {
        int seconds;
        int redraw_ms;
    };
    static constexpr std::array<Span, 3> spans {{{60, 500}, {600, 2000}, {3600, 5000}}};

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // One column of statistics (visible window or last 10 values).
    // A column of statistic labels, in the order of their rows.
    using Column = std::vector<QLabel*>;
    struct Plot {
        TrendHistory::Channel channel;
        QChartView* view = nullptr;
        QChart* chart = nullptr;
        QValueAxis* x = nullptr;
        QValueAxis* y = nullptr;
        std::vector<QLineSeries*> runs;  // one per stretch without a gap
        QColor colour;
        Column window;
        Column last10;
    };

    QChartView* build_plot(Plot& plot, const QString& title, const char* name);
    QWidget* build_stats(Plot& plot, const QString& title, const char* name);
    void redraw();
    void draw_plot(Plot& plot, std::int64_t now_ms, std::int64_t span_ms);
    void show_column(const Column& column, const TrendSummary& summary);
    void show_stability(std::int64_t now_ms);
    void span_changed();
    void pause_toggled(bool paused);
    void clear_clicked();
    void update_timer();
    const Span& span() const;

    TrendSource& m_source;
    QComboBox* m_span = nullptr;
    QPushButton* m_pause = nullptr;
    QPushButton* m_clear = nullptr;
    QLabel* m_stability = nullptr;
    QLabel* m_stability_caption = nullptr;
    QTimer* m_redraw = nullptr;
    Plot m_ad;
    Plot m_weight;
    std::int64_t m_frozen_ms = 0;  // the time shown while paused
};

}  // namespace pondara
