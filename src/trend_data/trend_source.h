#pragma once

#include "trend_data/trend_history.h"
#include "weighing/motion.h"

#include <QtPlugin>

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
    // The stability rule of the main window, and whether its link is well
    // (通信正常), for the window's stability mark.
    virtual MotionRule motion_rule() const = 0;
    virtual bool link_ok() const = 0;
};

// What the trend window's module offers the program: it makes the window (no
// parent, deleted when closed) over `source`, which outlives it.
class TrendWindowPlugin {
public:
    virtual ~TrendWindowPlugin() = default;
    virtual QWidget* make_window(TrendSource& source) = 0;
};

}  // namespace pondara

// The interface's identity: a module built against another TrendSource or
// TrendWindowPlugin must carry another one, and is then refused.
#define PondaraTrendWindowPlugin_iid "org.pondara.PondaraV6.TrendWindowPlugin/2"
Q_DECLARE_INTERFACE(pondara::TrendWindowPlugin, PondaraTrendWindowPlugin_iid)
