#pragma once

#include "protocol/packet.h"
#include "serial/module_link.h"
#include "serial/port_object.h"

#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pondara {

class MainForm;
class MessageSink;

namespace test {
class WindowPeer;
}

// The parameters dialog: reads and writes the module's sampling period
// (`zhouqi`, 1..15) and filter width (`kuandu`, 1..20) through a port of its
// own, which holds the device the main window hands over while the dialog is
// open.
class Canshu : public QWidget {
    Q_OBJECT

public:
    Canshu(MainForm& main_form, const PortFactory& make_port, MessageSink& messages);
    ~Canshu() override;

    // Opens the dialog's port on the main window's port number. Returns the
    // message for the operator when that fails.
    std::optional<QString> Form_Load();

    // Closes the dialog without handing the port back (the main window is
    // going away).
    void close_without_hand_back();

    // The dialog's own link, for features to listen to.
    ModuleLink& link() { return *m_link; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend class test::WindowPeer;  // reads rx_buf, which no control shows

    void Command1_Click();  // 读取 sampling period
    void Command2_Click();  // 写入 sampling period
    void Command3_Click();  // 读取 filter width
    void Command4_Click();  // 写入 filter width
    void Command5_Click();  // 关闭
    void Command6_Click();  // 帮助
    void MSComm1_OnComm();
    void port_lost(const PortLoss& loss);
    void show_param();
    void write_param(QLineEdit* box, double upper, Leixing type);
    void send_frame(const Command& command);
    void tell(const QString& text);
    void show_unanswered(LinkHealth::Outcome outcome);
    void clear_status();

    MainForm& m_main_form;
    MessageSink& m_messages;
    ModuleLink* m_link;  // the dialog's own port, sender and tx_buf
    RxBuf m_rx_buf {};
    bool m_hand_back = true;

    QLabel* m_label3 = nullptr;
    QLabel* m_label1 = nullptr;
    QLineEdit* m_zhouqi = nullptr;
    QPushButton* m_command1 = nullptr;
    QPushButton* m_command2 = nullptr;
    QLabel* m_label2 = nullptr;
    QLineEdit* m_kuandu = nullptr;
    QPushButton* m_command3 = nullptr;
    QPushButton* m_command4 = nullptr;
    QPushButton* m_command6 = nullptr;
    QPushButton* m_command5 = nullptr;
    QLabel* m_status = nullptr;  // 模块无应答 / 数据错误 after a request went unanswered
};

}  // namespace pondara
