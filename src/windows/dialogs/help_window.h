#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace pondara {

// The help window: a greeting, the module's protocol and operating text in
// an editable box (edits are not kept), and "确认" to close it.
class HelpWindow : public QWidget {
    Q_OBJECT

public:
    HelpWindow();

private:
    // "确认": closes (and destroys) the window.
    void open_comm_Click();

    QLabel* m_label1 = nullptr;
    QPlainTextEdit* m_text1 = nullptr;
    QPushButton* m_open_comm = nullptr;
};

}  // namespace pondara
