#pragma once

#include "trend/trend_history.h"

#include <cstdint>

class QWidget;

namespace pondara {

// What the trend window reads from the program: the history the main window
// records and the clock it is stamped with. The window's code is loaded on
// first use from a module of its own (it brings the plotting library), and
// reaches the program only through this interface.
class TrendSource {
public:
    virtual ~TrendSource() = default;

    virtual const TrendHistory& history() const = 0;
    virtual void clear_history() = 0;
    // The clock the history is stamped with, in ms.
    virtual std::int64_t now_ms() const = 0;
};

// The module's one entry point: makes the trend window (no parent, deleted
// when closed) over `source`, which outlives it.
using MakeTrendWindow = QWidget* (*)(TrendSource& source);
inline constexpr char make_trend_window_symbol[] = "pondara_make_trend_window";

}  // namespace pondara
