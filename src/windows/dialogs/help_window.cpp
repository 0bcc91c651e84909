#include "dialogs/help_window.h"

#include "dialogs/help_text.h"
#include "ui/look.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace pondara {

HelpWindow::HelpWindow() : QWidget(nullptr, Qt::Window)
{
    setObjectName(QStringLiteral("help"));
    setWindowTitle(QStringLiteral("Form1"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(look::twips_size(this, 8460, 6930));

    // The background takes the style's colour for scroll bars (their
    // button face).
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
    setAutoFillBackground(true);

    m_text1 = new QPlainTextEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text1->setTabChangesFocus(true);
    // The widget keeps lines, not line ends: CR LF becomes a line break.
    QString shown = help_text();
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_text1->setPlainText(shown);
    look::place(m_text1, {735, 720, 7095, 5175});  // in the toolkit's default font
    m_label1 = look::make_label(this, "Label1", QStringLiteral("欢迎使用"), m_text1, {3720, 120, 1455, 375}, 18);
    m_open_comm = look::make_button(this, "open_comm", QStringLiteral("确认"), {3360, 6360, 1455, 375}, 15.75);

    setTabOrder(m_open_comm, m_text1);
    m_open_comm->setFocus();
    connect(m_open_comm, &QPushButton::clicked, this, &HelpWindow::open_comm_Click);
}

void HelpWindow::open_comm_Click() { close(); }

}  // namespace pondara
