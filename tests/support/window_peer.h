#pragma once

#include "dialogs/canshu.h"
#include "main_window/main_form.h"
#include "protocol/packet.h"

#include <QApplication>
#include <QString>
#include <QWidget>

namespace pondara::test {

// The program's top-level window with the object name `name` ("main_form",
// "biaoding", "canshu", "help") while it exists, shown or closing; null once
// it has been destroyed.
template <typename Window = QWidget>
Window* open_window(const QString& name)
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() == name)
            return qobject_cast<Window*>(window);
    }
    return nullptr;
}

// What a window keeps and no control of it shows: its receive buffer, whose
// slots 8..99 must never be written.
class WindowPeer {
public:
    static const RxBuf& rx_buf(const MainForm& form) { return form.m_rx_buf; }
    static const RxBuf& rx_buf(const Canshu& dialog) { return dialog.m_rx_buf; }
};

}  // namespace pondara::test
