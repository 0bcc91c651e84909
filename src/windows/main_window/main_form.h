#pragma once

#include "protocol/packet.h"
#include "serial/module_link.h"
#include "serial/port_object.h"
#include "weighing/motion.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace pondara {

class Biaoding;
class Canshu;
class HelpWindow;
class ScanWindow;
class MessageSink;
class RecordControl;
class TrendFeed;
class WeighingWatch;
struct WeighingCheck;

namespace test {
class WindowPeer;
}

// Lists the machine's ports as "1 = /dev/ttyUSB0" lines, for the tooltip of
// the port number box and for the message when a number leads nowhere.
using PortLister = std::function<QStringList()>;

// The main window: port number and module address, the open/close button,
// the two live readouts, and the buttons for zeroing, calibration,
// parameters and help. Its timer polls the module every 200 ms.
class MainForm : public QWidget {
    Q_OBJECT

public:
    MainForm(const PortFactory& make_port, MessageSink& messages, PortLister list_ports = {},
             QWidget* parent = nullptr);
    ~MainForm() override;

    // Queues one command for the next tick; a second call before that tick
    // replaces the first.
    void SET_BUFF(const Command& command);

    // The open/close toggle of the main port (also run by the parameters
    // dialog when it closes).
    void open_comm_Click();

    // The texts of the port number and address boxes, read by every sender
    // and port opening of the program.
    QString chuankou_num_text() const;
    QString add_text() const;

    // The machine's ports, for the messages of a failed opening.
    QStringList port_list() const;

    // The link on this window's port: what features listen to.
    ModuleLink& link() { return *m_link; }

    // Whether the weight is still, and the check of each zero and
    // calibration; the rule comes from the command line.
    WeighingWatch& weighing() { return *m_weighing; }
    void set_motion_rule(const MotionRule& rule);

    // Adds an entry below the box's own ones in both readouts' context menu.
    void add_readout_action(QAction* action);

    // Records the links' events in a new file in `folder`, as "开始记录…"
    // does once a folder is chosen; false when the file cannot be made (the
    // operator is told).
    bool start_recording(const QString& folder);
    void stop_recording();
    // Further lines for the link indicator's tooltip (a feature's status),
    // asked for each time the tooltip is shown.
    void set_link_notes(std::function<QString()> notes) { m_link_notes = std::move(notes); }

signals:
    // The link of a window that talks to the module through a port of its
    // own (the parameters dialog), before it opens; for features to listen.
    void link_added(pondara::ModuleLink& link);

public slots:
    // One tick of Timer1: the queued command, else the next measurement query.
    void poll_tick();
    // Shows the trend window (single instance), loading its code on first use.
    void show_trend();
    // Shows the scan window (single instance).
    void show_scan();

private slots:
    void clr_command_Click();
    void biaoding_command_Click();
    void Command1_Click();
    void help_command_Click();
    void MSComm1_OnComm();
    void port_lost(const PortLoss& loss);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    friend class test::WindowPeer;  // reads rx_buf, which no control shows

    void build_controls();
    void send_next();
    void send_frame(const Command& command);
    void refresh_link();
    QString link_tooltip() const;
    void show_reply();
    void show_motion(const MotionReading& reading);
    void show_check(const WeighingCheck& check);
    void clear_check();
    void close_main_port();
    void tell(const QString& text);
    void close_dialogs();
    void build_readout_openers();
    void show_readout_menu(QLineEdit* readout, const QPoint& where);
    void build_scan_openers();
    QAction* add_opener(const QString& text, const QString& name, Qt::Key key, void (MainForm::*show)());

    PortFactory m_make_port;
    MessageSink& m_messages;
    PortLister m_list_ports;
    ModuleLink* m_link;  // the port, the program's shared sender (Module1) and the link's health

    // Polling state.
    Command m_cmd_buf {};
    std::uint8_t m_buff_flag = 0;
    std::uint8_t m_last_query = 0;
    RxBuf m_rx_buf {};

    // Ticks since each readout last got a reply of its own type; none until
    // the port is first opened, so that the start-up colours stay.
    std::optional<int> m_ad_age;
    std::optional<int> m_weight_age;

    QLabel* m_label3 = nullptr;
    QLineEdit* m_chuankou_num = nullptr;
    QPushButton* m_open_comm = nullptr;
    QLabel* m_label5 = nullptr;
    QLineEdit* m_add = nullptr;
    QLabel* m_label2 = nullptr;
    QLineEdit* m_ad_now = nullptr;
    QLabel* m_label1 = nullptr;
    QLineEdit* m_weight_now = nullptr;
    QPushButton* m_clr_command = nullptr;
    QPushButton* m_biaoding_command = nullptr;
    QPushButton* m_command1 = nullptr;
    QPushButton* m_help_command = nullptr;
    QLabel* m_link_state = nullptr;  // how the link is: text and colour, counters in its tooltip
    QLabel* m_record_state = nullptr;  // "● 记录中" while recording, the file in its tooltip
    QLabel* m_weight_state = nullptr;  // 稳定 or 波动, the rule and the reading in its tooltip
    QLabel* m_status = nullptr;  // the result of the last zero or calibration check
    QTimer* m_timer1 = nullptr;

    QPointer<Biaoding> m_biaoding;
    QPointer<Canshu> m_canshu;
    QPointer<HelpWindow> m_help;
    QPointer<QWidget> m_trend_window;
    QPointer<ScanWindow> m_scan;
    QAction* m_scan_action = nullptr;
    TrendFeed* m_trend = nullptr;
    RecordControl* m_record = nullptr;
    WeighingWatch* m_weighing = nullptr;
    QList<QAction*> m_readout_actions;
    std::function<QString()> m_link_notes;
};

}  // namespace pondara
