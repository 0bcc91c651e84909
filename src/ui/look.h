#pragma once

#include <QRect>
#include <QSize>

class QColor;
class QFont;
class QLabel;
class QLineEdit;
class QPushButton;
class QString;
class QWidget;

namespace pondara::look {

// Window geometry is laid out in twips, 1440 to the inch, and turned into
// pixels with the logical DPI of the window's screen.

// 宋体 at `points`: SimSun where it is installed, else Noto Serif CJK SC, else
// a Chinese sans, so that Chinese text never takes Japanese glyph forms.
QFont song_font(qreal points);

// A window's client area of `width` x `height` twips.
QSize twips_size(const QWidget* window, int width, int height);

// Puts a control at a twips rectangle of its window. A one-line caption is
// never cut off: where the fallback font's Latin letters are wider than
// 宋体's, the label grows to the right into the gap before its box. A label
// that wraps grows downwards the same way, so that its last line shows.
void place(QWidget* control, const QRect& twips);

// The controls of the windows, each made on `window` with its object name
// and text, in 宋体 of `points`, and placed at `twips`.
QLabel* make_label(QWidget* window, const char* name, const QString& caption, QWidget* buddy, const QRect& twips,
                   qreal points);
// A label whose text wraps inside its box, from the top left.
QLabel* make_note(QWidget* window, const char* name, const QString& text, const QRect& twips, qreal points);
QLineEdit* make_box(QWidget* window, const char* name, const QString& text, const QRect& twips, qreal points);
QPushButton* make_button(QWidget* window, const char* name, const QString& caption, const QRect& twips, qreal points);

// The colour of a box's or a label's text. Setting the colour it already
// has does nothing, so that a colour kept up to date at every tick costs no
// repaint.
void set_text_colour(QWidget* control, const QColor& colour);

// Centres a top-level window on its screen's available area.
void centre_on_screen(QWidget* window);

}  // namespace pondara::look
