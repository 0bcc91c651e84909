#pragma once

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

}  // namespace pondara::test
