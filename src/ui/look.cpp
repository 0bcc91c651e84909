#include "ui/look.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace pondara::look {

namespace {

// The logical DPI of the screen `widget` is on (or the primary screen).
qreal logical_dpi(const QWidget* widget)
{
    const QScreen* screen = widget && widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() : 96.0;
}

int twips_to_pixels(int twips, qreal logical_dpi)
{
    return static_cast<int>(std::lround(twips * logical_dpi / 1440.0));
}

// Names a new control, gives it its font and places it.
template <typename Control>
Control* made(Control* control, const char* name, const QRect& twips, qreal points)
{
    control->setObjectName(QLatin1String(name));
    control->setFont(song_font(points));
    place(control, twips);
    return control;
}

}  // namespace

QFont song_font(qreal points)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Zen Hei")});
    font.setPointSizeF(points);
    font.setWeight(QFont::Normal);
    return font;
}

QSize twips_size(const QWidget* window, int width, int height)
{
    const qreal dpi = logical_dpi(window);
    return {twips_to_pixels(width, dpi), twips_to_pixels(height, dpi)};
}

void place(QWidget* control, const QRect& twips)
{
    const qreal dpi = logical_dpi(control);
    QRect pixels(twips_to_pixels(twips.x(), dpi), twips_to_pixels(twips.y(), dpi), twips_to_pixels(twips.width(), dpi),
                 twips_to_pixels(twips.height(), dpi));
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        if (label->wordWrap())
            pixels.setHeight(std::max(pixels.height(), label->heightForWidth(pixels.width())));
        else
            pixels.setWidth(std::max(pixels.width(), label->sizeHint().width()));
    }
    control->setGeometry(pixels);
}

QLabel* make_label(QWidget* window, const char* name, const QString& caption, QWidget* buddy, const QRect& twips,
                   qreal points)
{
    auto* label = new QLabel(caption, window);
    label->setBuddy(buddy);
    return made(label, name, twips, points);
}

QLabel* make_note(QWidget* window, const char* name, const QString& text, const QRect& twips, qreal points)
{
    auto* note = new QLabel(text, window);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return made(note, name, twips, points);
}

QLineEdit* make_box(QWidget* window, const char* name, const QString& text, const QRect& twips, qreal points)
{
    return made(new QLineEdit(text, window), name, twips, points);
}

QPushButton* make_button(QWidget* window, const char* name, const QString& caption, const QRect& twips, qreal points)
{
    auto* button = new QPushButton(caption, window);
    button->setAutoDefault(false);
    return made(button, name, twips, points);
}

void set_text_colour(QWidget* control, const QColor& colour)
{
    // A box draws its text in the Text role, a label in WindowText.
    const QPalette::ColorRole role = qobject_cast<QLineEdit*>(control) ? QPalette::Text : QPalette::WindowText;
    if (control->palette().color(role) == colour && control->testAttribute(Qt::WA_SetPalette))
        return;
    QPalette palette = control->palette();
    palette.setColor(role, colour);
    control->setPalette(palette);
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
