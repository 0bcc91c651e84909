#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace pondara::look {

// Window geometry is laid out in twips, 1440 to the inch, and turned into
// pixels with the screen's logical DPI.
int twips_to_pixels(int twips, qreal logical_dpi);
QRect twips_rect(int left, int top, int width, int height, qreal logical_dpi);

// The logical DPI of the screen `widget` is on (or the primary screen).
qreal logical_dpi(const QWidget* widget);

// 宋体 at `points`: SimSun where it is installed, else Noto Serif CJK SC, else
// a Chinese sans, so that Chinese text never takes Japanese glyph forms.
QFont song_font(qreal points);

// Places a control at a twips rectangle with the 宋体 font of `points`.
void place(QWidget* control, const QRect& twips, qreal points, qreal logical_dpi);

// Centres a top-level window on its screen's available area.
void centre_on_screen(QWidget* window);

}  // namespace pondara::look
