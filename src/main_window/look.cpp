#include "main_window/look.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace pondara::look {

int twips_to_pixels(int twips, qreal logical_dpi)
{
    return static_cast<int>(std::lround(twips * logical_dpi / 1440.0));
}

QRect twips_rect(int left, int top, int width, int height, qreal logical_dpi)
{
    return {twips_to_pixels(left, logical_dpi), twips_to_pixels(top, logical_dpi),
            twips_to_pixels(width, logical_dpi), twips_to_pixels(height, logical_dpi)};
}

qreal logical_dpi(const QWidget* widget)
{
    const QScreen* screen = widget && widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() : 96.0;
}

QFont song_font(qreal points)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
    font.setPointSizeF(points);
    font.setWeight(QFont::Normal);
    return font;
}

void place(QWidget* control, const QRect& twips, qreal points, qreal logical_dpi)
{
    control->setFont(song_font(points));
    QRect pixels = twips_rect(twips.x(), twips.y(), twips.width(), twips.height(), logical_dpi);
    // A one-line caption is never cut off: where the fallback font's Latin
    // letters are wider than 宋体's, the label grows to the right into the
    // gap before its box.
    // A note that wraps grows downwards the same way, so its last line shows.
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        if (label->wordWrap())
            pixels.setHeight(std::max(pixels.height(), label->heightForWidth(pixels.width())));
        else
            pixels.setWidth(std::max(pixels.width(), label->sizeHint().width()));
    }
    control->setGeometry(pixels);
}

void centre_on_screen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

}  // namespace pondara::look
