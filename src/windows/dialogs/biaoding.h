#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pondara {

class MainForm;
class MessageSink;
struct MotionReading;

// The calibration dialog: the operator types the weight lying on the scale
// and confirms; the dialog queues the calibrate command on the main window,
// whose next tick sends it.
class Biaoding : public QWidget {
    Q_OBJECT

public:
    Biaoding(MainForm& main_form, MessageSink& messages);

private:
    // "确认": queue the calibration and close, or say why the text is refused.
    void open_comm_Click();
    // "取消": close without queuing.
    void Command1_Click();
    // The live line: the main window's weight and whether it is still.
    void show_weight(const MotionReading& reading);

    MainForm& m_main_form;
    MessageSink& m_messages;
    QLabel* m_label1 = nullptr;
    QLabel* m_label2 = nullptr;
    QLineEdit* m_biaoding_val = nullptr;
    QPushButton* m_open_comm = nullptr;
    QPushButton* m_command1 = nullptr;
    QLabel* m_weight_line = nullptr;
};

}  // namespace pondara
