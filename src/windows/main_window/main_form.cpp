#include "main_window/main_form.h"

#include "dialogs/biaoding.h"
#include "dialogs/canshu.h"
#include "dialogs/help_window.h"
#include "main_window/port_opening.h"
#include "main_window/record_control.h"
#include "main_window/trend_feed.h"
#include "main_window/weighing_watch.h"
#include "scan/scan_window.h"
#include "serial/logging.h"
#include "ui/link_view.h"
#include "ui/look.h"
#include "ui/message_sink.h"
#include "ui/messages.h"
#include "ui/motion_view.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolTip>

// Resources of a static library are registered by hand.
static void init_resources() { Q_INIT_RESOURCE(pondara); }

namespace pondara {

namespace {

constexpr int poll_interval_ms = 200;
// A readout is no longer live after a second of ticks without a reply of its
// own type.
constexpr int stale_ticks = 1000 / poll_interval_ms;

// The program's icon at each size it is drawn in, so that title bars, task
// bars and switchers all get a sharp picture.
QIcon window_icon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/pondara/icons/pondara-%1.png").arg(size));
    return icon;
}

// Shows the single instance held in `instance`, creating it first when it is
// not open; an open one is only brought to the front.
template <typename Dialog, typename Create>
void show_single(QPointer<Dialog>& instance, Create create)
{
    if (!instance) {
        instance = create();
        instance->show();
        look::centre_on_screen(instance);
    } else {
        instance->showNormal();
    }
    instance->raise();
    instance->activateWindow();
}

// Writes a readout. An unchanged value is left alone: setting a line edit's
// text lays it out and repaints it even when the text is the same, and a
// steady weight would otherwise cost a repaint every 400 ms all day.
void show_value(QLineEdit* readout, std::uint32_t value)
{
    const QString text = QString::number(value);
    if (readout->text() != text)
        readout->setText(text);
}

// A readout in its own colour while live, grey once stale.
void colour_readout(QLineEdit* readout, const QColor& live, const std::optional<int>& age)
{
    look::set_text_colour(readout, age && *age >= stale_ticks ? stale_colour() : live);
}

}  // namespace

MainForm::MainForm(const PortFactory& make_port, MessageSink& messages, PortLister list_ports, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_make_port(make_port),
      m_messages(messages),
      m_list_ports(std::move(list_ports)),
      m_link(new ModuleLink(make_port(), QStringLiteral("main window"), this))
{
    setObjectName(QStringLiteral("main_form"));
    setWindowTitle(QStringLiteral("PondaraV6"));
    init_resources();
    setWindowIcon(window_icon());
    m_link->port().setObjectName(QStringLiteral("MSComm1"));
    m_weighing = new WeighingWatch(*m_link, this);
    build_controls();

    connect(&m_link->port(), &PortObject::onComm, this, &MainForm::MSComm1_OnComm);
    connect(m_link, &ModuleLink::module_event, this, [this](const ModuleEvent& event) {
        if (event.kind == ModuleEvent::Kind::lost)
            port_lost(event.loss);
    });

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setTimerType(Qt::PreciseTimer);
    m_timer1->setInterval(poll_interval_ms);
    connect(m_timer1, &QTimer::timeout, this, &MainForm::poll_tick);
    m_timer1->start();

    m_trend = new TrendFeed(*m_link, *m_weighing, this);
    build_readout_openers();
    m_record = new RecordControl(*this, m_record_state, m_messages);
    build_scan_openers();

    connect(m_weighing, &WeighingWatch::reading_changed, this, &MainForm::show_motion);
    connect(m_weighing, &WeighingWatch::check_started, this, &MainForm::clear_check);
    connect(m_weighing, &WeighingWatch::check_finished, this, &MainForm::show_check);
}

MainForm::~MainForm()
{
    // Dialogs still open go with the main window.
    delete m_biaoding.data();
    delete m_canshu.data();
    delete m_help.data();
    delete m_trend_window.data();
    delete m_scan.data();
}

void MainForm::build_controls()
{
    setFixedSize(look::twips_size(this, 5820, 3990));

    using look::make_box, look::make_button, look::make_label;
    constexpr qreal points = 15.75;
    m_chuankou_num = make_box(this, "chuankou_num", QStringLiteral("1"), {1680, 120, 495, 375}, points);
    m_label3 = make_label(this, "Label3", QStringLiteral("串口号"), m_chuankou_num, {120, 120, 1335, 375}, points);
    m_open_comm = make_button(this, "open_comm", QStringLiteral("打开串口"), {3840, 120, 1455, 375}, points);
    m_add = make_box(this, "add", QStringLiteral("1"), {1680, 870, 600, 375}, points);
    m_label5 = make_label(this, "Label5", QStringLiteral("模块地址"), m_add, {120, 870, 1335, 375}, points);
    m_ad_now = make_box(this, "AD_now", QStringLiteral("0"), {1680, 1485, 1695, 375}, points);
    m_label2 = make_label(this, "Label2", QStringLiteral("当前AD值"), m_ad_now, {120, 1485, 1335, 375}, points);
    m_weight_now = make_box(this, "weight_now", QStringLiteral("0"), {1680, 2205, 1695, 375}, points);
    m_label1 = make_label(this, "Label1", QStringLiteral("当前重量"), m_weight_now, {120, 2205, 1335, 375}, points);
    m_clr_command = make_button(this, "clr_command", QStringLiteral("置零"), {240, 3120, 1095, 495}, points);
    m_biaoding_command = make_button(this, "biaoding_command", QStringLiteral("标定"), {1680, 3120, 1035, 480}, points);
    m_command1 = make_button(this, "Command1", QStringLiteral("设置"), {3120, 3120, 1035, 480}, points);
    m_help_command = make_button(this, "help_command", QStringLiteral("帮助"), {4560, 3120, 1095, 495}, points);
    m_link_state = make_label(this, "link_state", QString(), nullptr, {3480, 870, 2220, 375}, points);
    m_link_state->installEventFilter(this);
    m_record_state = make_label(this, "record_state", QString(), nullptr, {3480, 1485, 2220, 375}, points);
    m_weight_state = make_label(this, "weight_state", QString(), nullptr, {3480, 2205, 2220, 375}, points);
    m_weight_state->installEventFilter(this);
    m_status = make_label(this, "status", QString(), nullptr, {120, 3660, 5580, 315}, 10.5);

    look::set_text_colour(m_ad_now, Qt::blue);
    look::set_text_colour(m_weight_now, Qt::red);

    // Tab order of the controls that take the focus.
    const QWidget* const order[] = {m_biaoding_command, m_ad_now,       m_weight_now, m_chuankou_num, m_open_comm,
                                    m_clr_command,      m_help_command, m_add,        m_command1};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
    m_biaoding_command->setFocus();

    m_chuankou_num->installEventFilter(this);

    connect(m_open_comm, &QPushButton::clicked, this, &MainForm::open_comm_Click);
    connect(m_clr_command, &QPushButton::clicked, this, &MainForm::clr_command_Click);
    connect(m_biaoding_command, &QPushButton::clicked, this, &MainForm::biaoding_command_Click);
    connect(m_command1, &QPushButton::clicked, this, &MainForm::Command1_Click);
    connect(m_help_command, &QPushButton::clicked, this, &MainForm::help_command_Click);
}

QString MainForm::chuankou_num_text() const { return m_chuankou_num->text(); }
QString MainForm::add_text() const { return m_add->text(); }

QStringList MainForm::port_list() const { return m_list_ports ? m_list_ports() : QStringList {}; }

void MainForm::SET_BUFF(const Command& command)
{
    m_cmd_buf = command;
    m_buff_flag = 1;
    m_weighing->queued(command);
}

void MainForm::set_motion_rule(const MotionRule& rule) { m_weighing->set_rule(rule); }

void MainForm::poll_tick()
{
    send_next();
    if (m_link->is_open()) {
        for (std::optional<int>* age : {&m_ad_age, &m_weight_age})
            *age = age->value_or(0) + 1;
    }
    refresh_link();
}

void MainForm::send_next()
{
    if (m_buff_flag != 0) {
        m_buff_flag = 0;
        if (m_link->is_open())
            send_frame(m_cmd_buf);
        return;
    }
    if (!m_link->is_open())
        return;
    if (m_last_query == 1) {
        m_last_query = 2;
        send_frame(make_command(Leixing::read_weight));
    } else {
        m_last_query = 1;
        send_frame(make_command(Leixing::read_ad));
    }
}

void MainForm::send_frame(const Command& command)
{
    const ConversionError error = m_link->send_frame(add_text(), command);
    if (error == ConversionError::none)
        return;
    // A bad address would fail again at every tick: stop polling and say so
    // once.
    close_main_port();
    tell(messages::address_failed(add_text(), error));
}

void MainForm::open_comm_Click()
{
    if (m_link->is_open()) {
        close_main_port();
        return;
    }
    if (const auto failure = open_numbered_port(*m_link, chuankou_num_text(), m_label3->text(), port_list())) {
        tell(*failure);
        return;
    }
    m_open_comm->setText(QStringLiteral("关闭串口"));
    m_ad_age = 0;
    m_weight_age = 0;
    refresh_link();
}

void MainForm::close_main_port()
{
    m_link->close();
    m_open_comm->setText(QStringLiteral("打开串口"));
    refresh_link();
}

void MainForm::port_lost(const PortLoss& loss)
{
    m_open_comm->setText(QStringLiteral("打开串口"));
    refresh_link();
    tell(messages::connection_lost(m_link->port_number(), loss));
}

// The link indicator and the readouts' colours, from the link's health and
// the readouts' ages. A closed port shows no state and stale readouts.
void MainForm::refresh_link()
{
    const LinkHealth::State state = m_link->health().state();
    show_status(m_link_state, link_state_text(state), link_state_colour(state));
    if (!m_link->is_open()) {
        for (std::optional<int>* age : {&m_ad_age, &m_weight_age}) {
            if (*age)
                *age = stale_ticks;
        }
    }
    colour_readout(m_ad_now, Qt::blue, m_ad_age);
    colour_readout(m_weight_now, Qt::red, m_weight_age);
    if (!m_link->is_open())
        clear_check();
}

void MainForm::show_motion(const MotionReading& reading)
{
    show_status(m_weight_state, motion_text(reading.motion), motion_colour(reading.motion));
}

void MainForm::show_check(const WeighingCheck& check)
{
    if (check.result == WeighingCheck::Result::abandoned) {
        clear_check();
        return;
    }
    const bool confirmed = check.result == WeighingCheck::Result::confirmed;
    show_status(m_status, check_text(check), motion_colour(confirmed ? Motion::stable : Motion::moving));
    m_status->setToolTip(check_hint(check));
}

void MainForm::clear_check()
{
    if (m_status->text().isEmpty())
        return;
    show_status(m_status, QString(), palette().color(QPalette::WindowText));
    m_status->setToolTip(QString());
}

QString MainForm::link_tooltip() const
{
    QStringList parts;
    if (m_link->is_open()) {
        const LinkHealth& link = m_link->health();
        parts << link_hint(link.state(), {m_link->port_number(), m_link->device(), add_text()})
              << link_counters(link.counters());
    }
    if (m_link_notes)
        parts << m_link_notes();
    parts.removeAll(QString());
    return parts.join(QStringLiteral("\n\n"));
}

void MainForm::clr_command_Click() { SET_BUFF(make_command(Leixing::zero)); }

void MainForm::biaoding_command_Click()
{
    show_single(m_biaoding, [this] { return new Biaoding(*this, m_messages); });
}

void MainForm::Command1_Click()
{
    // Hand the device to the parameters dialog: release the main port, then
    // the dialog opens its own on the same number.
    const bool was_open = m_link->is_open();
    if (was_open) {
        qCDebug(lc_port) << "main window: handing the port to the parameters dialog";
        close_main_port();
    }
    if (m_canshu) {
        show_single(m_canshu, [] { return nullptr; });
        return;
    }
    auto dialog = std::make_unique<Canshu>(*this, m_make_port, m_messages);
    m_record->watch(dialog->link());
    emit link_added(dialog->link());
    if (const auto failure = dialog->Form_Load()) {
        // The dialog is not shown; the main port goes back as it was.
        dialog.reset();
        tell(*failure);
        if (was_open)
            open_comm_Click();
        return;
    }
    show_single(m_canshu, [&dialog] { return dialog.release(); });
}

void MainForm::help_command_Click()
{
    show_single(m_help, [] { return new HelpWindow; });
}

void MainForm::show_trend()
{
    QWidget* made = m_trend_window ? nullptr : m_trend->make_window(m_messages, this);
    if (m_trend_window || made)
        show_single(m_trend_window, [made] { return made; });
}

// The readouts open the trend window: double-click, their context menu and
// Ctrl+T, with the hint in their tooltip.
void MainForm::build_readout_openers()
{
    add_opener(QStringLiteral("趋势图…"), QStringLiteral("trend"), Qt::Key_T, &MainForm::show_trend);
    for (QLineEdit* readout : {m_ad_now, m_weight_now}) {
        readout->setToolTip(QStringLiteral("双击、右键菜单“趋势图…”或 Ctrl+T：打开趋势图"));
        readout->installEventFilter(this);
    }
}

// The scan window opens from the link indicator's context menu, the
// readouts' context menu and Ctrl+F.
void MainForm::build_scan_openers()
{
    m_scan_action = add_opener(QStringLiteral("查找模块…"), QStringLiteral("scan"), Qt::Key_F, &MainForm::show_scan);
}

// A window's entry in the readouts' context menu ("<name>_action") and its
// Ctrl+key in the main window ("<name>_shortcut").
QAction* MainForm::add_opener(const QString& text, const QString& name, Qt::Key key, void (MainForm::*show)())
{
    auto* action = new QAction(text, this);
    action->setObjectName(name + QStringLiteral("_action"));
    action->setShortcut(QKeySequence(Qt::CTRL | key));
    connect(action, &QAction::triggered, this, show);
    add_readout_action(action);
    auto* shortcut = new QShortcut(action->shortcut(), this);
    shortcut->setObjectName(name + QStringLiteral("_shortcut"));
    connect(shortcut, &QShortcut::activated, this, show);
    return action;
}

void MainForm::show_scan()
{
    show_single(m_scan, [this] {
        ScanHost host;
        host.port_text = [this] { return chuankou_num_text(); };
        host.list_ports = [this] { return port_list(); };
        host.cannot_start = [this] {
            return m_canshu ? QStringLiteral("参数设置窗口正在使用串口：请先关闭它，再查找模块。") : QString();
        };
        host.borrow_port = [this] {
            const bool was_open = m_link->is_open();
            if (was_open)
                close_main_port();
            return was_open;
        };
        host.give_back_port = [this](bool was_open) {
            if (was_open && !m_link->is_open())
                open_comm_Click();
        };
        host.use = [this](int port_number, int address) {
            m_chuankou_num->setText(QString::number(port_number));
            m_add->setText(QString::number(address));
        };
        return new ScanWindow(std::move(host), m_make_port);
    });
}

void MainForm::add_readout_action(QAction* action) { m_readout_actions.append(action); }

bool MainForm::start_recording(const QString& folder) { return m_record->start(folder); }
void MainForm::stop_recording() { m_record->stop(); }

// The box's own menu, then the program's entries.
void MainForm::show_readout_menu(QLineEdit* readout, const QPoint& where)
{
    QMenu* menu = readout->createStandardContextMenu();
    menu->setObjectName(QStringLiteral("readout_menu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    menu->addActions(m_readout_actions);
    menu->popup(where);
}

void MainForm::MSComm1_OnComm()
{
    if (!m_link->take_reply(m_rx_buf))
        return;
    show_reply();
    refresh_link();
}

void MainForm::show_reply()
{
    switch (m_rx_buf[2]) {
    case static_cast<int>(Leixing::read_ad):
        m_ad_age = 0;
        show_value(m_ad_now, reply_value(m_rx_buf));
        break;
    case static_cast<int>(Leixing::read_weight):
        m_weight_age = 0;
        show_value(m_weight_now, reply_value(m_rx_buf));
        break;
    case static_cast<int>(Leixing::zero):
        tell(messages::zero_done);
        break;
    case static_cast<int>(Leixing::calibrate):
        tell(messages::calibration_done);
        break;
    default:
        break;
    }
}

void MainForm::tell(const QString& text) { m_messages.post(this, text); }

bool MainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_chuankou_num && event->type() == QEvent::ToolTip) {
        // The mapping can change while the program runs (adapters plugged,
        // virtual ports published): build it afresh at each hover.
        const QStringList ports = port_list();
        const QString tip = ports.isEmpty() ? QStringLiteral("本机没有可用的串口") : ports.join(QLatin1Char('\n'));
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip, m_chuankou_num);
        return true;
    }
    if (watched == m_link_state && event->type() == QEvent::ToolTip) {
        // The counters change with every reply: written only when asked for.
        m_link_state->setToolTip(link_tooltip());
    }
    if (watched == m_link_state && event->type() == QEvent::ContextMenu) {
        auto* menu = new QMenu(m_link_state);
        menu->setObjectName(QStringLiteral("link_state_menu"));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(m_scan_action);
        menu->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    if (watched == m_weight_state && event->type() == QEvent::ToolTip)
        m_weight_state->setToolTip(motion_tooltip(m_weighing->rule(), m_weighing->reading()));
    auto* readout = qobject_cast<QLineEdit*>(watched);
    if (readout && (readout == m_ad_now || readout == m_weight_now)) {
        if (event->type() == QEvent::MouseButtonDblClick)
            show_trend();  // and the box still selects the number, as usual
        if (event->type() == QEvent::ContextMenu) {
            show_readout_menu(readout, static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainForm::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program: message boxes still open
    // for it go with it.
    for (QMessageBox* box : findChildren<QMessageBox*>())
        box->close();
    close_dialogs();
    QWidget::closeEvent(event);
}

void MainForm::close_dialogs()
{
    // The dialogs have no owner window; each is destroyed when it closes.
    if (m_biaoding)
        m_biaoding->close();
    if (m_canshu)
        m_canshu->close_without_hand_back();
    if (m_help)
        m_help->close();
    if (m_trend_window)
        m_trend_window->close();
    if (m_scan)
        m_scan->close_without_hand_back();
}

}  // namespace pondara
