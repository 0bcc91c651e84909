#include "dialogs/canshu.h"

#include "main_window/main_form.h"
#include "main_window/port_opening.h"
#include "serial/logging.h"
#include "ui/link_view.h"
#include "ui/look.h"
#include "ui/message_sink.h"
#include "ui/messages.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace pondara {

namespace {

const QString parameter_error = QStringLiteral("参数错误");

}  // namespace

Canshu::Canshu(MainForm& main_form, const PortFactory& make_port, MessageSink& messages)
    : QWidget(nullptr, Qt::Window),
      m_main_form(main_form),
      m_messages(messages),
      m_link(new ModuleLink(make_port(), QStringLiteral("parameters dialog"), this))
{
    setObjectName(QStringLiteral("canshu"));
    setWindowTitle(QStringLiteral("Form1"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_link->port().setObjectName(QStringLiteral("MSComm1"));
    resize(look::twips_size(this, 5940, 3375));

    // The rows in 15 pt, buttons and heading in 15.75 pt.
    using look::make_box, look::make_button, look::make_label;
    m_label3 = make_label(this, "Label3", QStringLiteral("AD模块参数设置"), nullptr, {1320, 240, 2415, 375}, 15.75);
    m_zhouqi = make_box(this, "zhouqi", QString(), {2040, 1320, 975, 375}, 15);
    m_label1 = make_label(this, "Label1", QStringLiteral("采样周期："), m_zhouqi, {360, 1320, 1215, 375}, 15);
    m_command1 = make_button(this, "Command1", QStringLiteral("读取"), {3360, 1320, 855, 375}, 15.75);
    m_command2 = make_button(this, "Command2", QStringLiteral("写入"), {4440, 1320, 855, 375}, 15.75);
    m_kuandu = make_box(this, "kuandu", QString(), {2040, 1920, 975, 375}, 15);
    m_label2 = make_label(this, "Label2", QStringLiteral("滤波宽度："), m_kuandu, {360, 1920, 1575, 375}, 15);
    m_command3 = make_button(this, "Command3", QStringLiteral("读取"), {3360, 1920, 855, 375}, 15.75);
    m_command4 = make_button(this, "Command4", QStringLiteral("写入"), {4440, 1920, 855, 375}, 15.75);
    m_command6 = make_button(this, "Command6", QStringLiteral("帮助"), {840, 2640, 1575, 375}, 15.75);
    m_command5 = make_button(this, "Command5", QStringLiteral("关闭"), {3360, 2640, 1575, 375}, 15.75);
    m_status = make_label(this, "status", QString(), nullptr, {360, 720, 5220, 375}, 15);

    QWidget* const order[]
        = {m_command4, m_command3, m_kuandu, m_command2, m_command1, m_zhouqi, m_command5, m_command6};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    m_command4->setFocus();

    // Any button press clears the status line.
    for (QPushButton* button : findChildren<QPushButton*>())
        connect(button, &QPushButton::clicked, this, &Canshu::clear_status);
    connect(m_command1, &QPushButton::clicked, this, &Canshu::Command1_Click);
    connect(m_command2, &QPushButton::clicked, this, &Canshu::Command2_Click);
    connect(m_command3, &QPushButton::clicked, this, &Canshu::Command3_Click);
    connect(m_command4, &QPushButton::clicked, this, &Canshu::Command4_Click);
    connect(m_command5, &QPushButton::clicked, this, &Canshu::Command5_Click);
    connect(m_command6, &QPushButton::clicked, this, &Canshu::Command6_Click);
    connect(&m_link->port(), &PortObject::onComm, this, &Canshu::MSComm1_OnComm);
    connect(m_link, &ModuleLink::module_event, this, [this](const ModuleEvent& event) {
        if (event.kind == ModuleEvent::Kind::lost)
            port_lost(event.loss);
        else if (event.kind == ModuleEvent::Kind::exchange_silent)
            show_unanswered(event.outcome);
    });
}

Canshu::~Canshu() = default;

std::optional<QString> Canshu::Form_Load()
{
    return open_numbered_port(*m_link, m_main_form.chuankou_num_text(), QStringLiteral("串口号"),
                              m_main_form.port_list());
}

void Canshu::Command1_Click() { send_frame(make_command(Leixing::read_zhouqi)); }
void Canshu::Command2_Click() { write_param(m_zhouqi, 15.0, Leixing::write_zhouqi); }
void Canshu::Command3_Click() { send_frame(make_command(Leixing::read_kuandu)); }
void Canshu::Command4_Click() { write_param(m_kuandu, 20.0, Leixing::write_kuandu); }
void Canshu::Command5_Click() { close(); }

void Canshu::Command6_Click()
{
    tell(QStringLiteral("采样周期为AD芯片的采集周期，数值1-15，数值越大，速度越低，精度越高。"
                        "滤波参数为单片机内部平均值滤波长度，数值1-20，表示取多少个数值做平均"));
}

void Canshu::write_param(QLineEdit* box, double upper, Leixing type)
{
    // The range is checked on the number as typed, before rounding; a text
    // that is no number at all gets the same answer.
    const auto number = text_to_double(box->text());
    if (!number || number.value() < 1.0 || number.value() > upper) {
        tell(parameter_error);
        return;
    }
    const auto value = text_to_byte(box->text());  // 1..upper after the check
    send_frame(make_command(type, value.value()));
}

void Canshu::send_frame(const Command& command)
{
    if (!m_link->is_open()) {
        tell(messages::error(messages::ErrorNumber::port_not_open,
                             QStringLiteral("参数窗口的串口未打开，没有发送。请关闭本窗口后重新打开。")));
        return;
    }
    const ConversionError error = m_link->send_frame(m_main_form.add_text(), command);
    if (error != ConversionError::none)
        tell(messages::address_failed(m_main_form.add_text(), error));
}

void Canshu::MSComm1_OnComm()
{
    if (!m_link->take_reply(m_rx_buf))
        return;
    clear_status();
    show_param();
}

void Canshu::show_param()
{
    const QString value = QString::number(m_rx_buf[6]);
    switch (m_rx_buf[2]) {
    case static_cast<int>(Leixing::write_zhouqi):
    case static_cast<int>(Leixing::read_zhouqi):
        m_zhouqi->setText(value);
        break;
    case static_cast<int>(Leixing::write_kuandu):
    case static_cast<int>(Leixing::read_kuandu):
        m_kuandu->setText(value);
        break;
    default:
        break;
    }
}

// Half a second after a request without a valid reply: says so, and
// whether bytes came at all.
void Canshu::show_unanswered(LinkHealth::Outcome outcome)
{
    LinkHealth::State state = LinkHealth::State::no_reply;
    QString check = QStringLiteral("：请检查地址和接线");
    switch (outcome) {
    case LinkHealth::Outcome::answered:
        return;
    case LinkHealth::Outcome::garbled:
        state = LinkHealth::State::bad_data;
        check = QStringLiteral("：请检查波特率和接线");
        break;
    case LinkHealth::Outcome::silent:
        break;
    }
    show_status(m_status, link_state_text(state) + check, link_state_colour(state));
    m_status->setToolTip(link_hint(state, {m_link->port_number(), m_link->device(), m_main_form.add_text()}));
}

void Canshu::clear_status()
{
    m_link->stop_reply_wait();
    show_status(m_status, QString(), link_state_colour(LinkHealth::State::closed));
    m_status->setToolTip(QString());
}

void Canshu::port_lost(const PortLoss& loss) { tell(messages::connection_lost(m_link->port_number(), loss)); }

void Canshu::tell(const QString& text) { m_messages.post(this, text); }

void Canshu::close_without_hand_back()
{
    m_hand_back = false;
    close();
}

void Canshu::closeEvent(QCloseEvent* event)
{
    // Unload: release the device and run the main window's toggle, which
    // normally opens the main port again.
    m_link->close();
    if (m_hand_back) {
        qCDebug(lc_port) << "parameters dialog: handing the port back to the main window";
        m_main_form.open_comm_Click();
    }
    m_hand_back = false;
    QWidget::closeEvent(event);
}

}  // namespace pondara
