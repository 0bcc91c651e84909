#include "main_window/record_control.h"

#include "main_window/main_form.h"
#include "main_window/weighing_watch.h"
#include "record/recorder.h"
#include "trend_data/csv_row.h"
#include "ui/link_view.h"
#include "ui/message_sink.h"
#include "ui/motion_view.h"

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QShortcut>

namespace pondara {

namespace {

const QString start_text = QStringLiteral("开始记录…");
const QString stop_text = QStringLiteral("停止记录");

}  // namespace

RecordControl::RecordControl(MainForm& window, QLabel* state, MessageSink& messages)
    : QObject(&window),
      m_window(window),
      m_state(state),
      m_messages(messages),
      m_recorder(new Recorder(this)),
      m_action(new QAction(start_text, this))
{
    setObjectName(QStringLiteral("record_control"));
    m_recorder->watch(window.link());
    // Each zero and calibration: the request and the module's answer come
    // as the link's rows, the check of its result as a row of its own.
    connect(&window.weighing(), &WeighingWatch::check_finished, this, [this](const WeighingCheck& check) {
        const auto after = check.weight_after ? std::optional<std::int64_t>(*check.weight_after) : std::nullopt;
        m_recorder->annotate(m_window.link(), QStringLiteral("check"), after, check_audit(check));
    });
    connect(m_recorder, &Recorder::state_changed, this, &RecordControl::show_state);
    connect(m_recorder, &Recorder::failed, this, [this](const QString& text) { m_messages.post(&m_window, text); });

    m_action->setObjectName(QStringLiteral("record_action"));
    m_action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(m_action, &QAction::triggered, this, &RecordControl::toggle);
    window.add_readout_action(m_action);
    auto* shortcut = new QShortcut(m_action->shortcut(), &window);
    shortcut->setObjectName(QStringLiteral("record_shortcut"));
    connect(shortcut, &QShortcut::activated, this, &RecordControl::toggle);
    m_state->installEventFilter(this);
}

void RecordControl::watch(ModuleLink& link) { m_recorder->watch(link); }

bool RecordControl::start(const QString& folder)
{
    const auto port = text_to_int16(m_window.chuankou_num_text());
    const auto address = text_to_address_byte(m_window.add_text());
    const int port_number = m_window.link().is_open() ? m_window.link().port_number() : port ? port.value() : 0;
    return m_recorder->start(folder, port_number, address ? address.value() : 0);
}

void RecordControl::stop() { m_recorder->stop(); }

bool RecordControl::recording() const { return m_recorder->recording(); }

void RecordControl::toggle()
{
    if (m_recorder->recording())
        stop();
    else
        choose_folder();
}

// A folder chooser that does not block the window: polling and the
// readouts go on while it is open.
void RecordControl::choose_folder()
{
    if (auto* open = m_window.findChild<QFileDialog*>(QStringLiteral("record_folder"))) {
        open->raise();
        return;
    }
    auto* dialog = new QFileDialog(&m_window, QStringLiteral("选择记录文件夹"), csv::default_folder());
    dialog->setObjectName(QStringLiteral("record_folder"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) { start(folder); });
    dialog->open();
}

void RecordControl::show_state()
{
    const bool on = m_recorder->recording();
    show_status(m_state, on ? QStringLiteral("● 记录中") : QString(), Qt::red);
    m_action->setText(on ? stop_text : start_text);
    if (!on)
        m_state->setToolTip(QString());
}

bool RecordControl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_state && event->type() == QEvent::ToolTip && m_recorder->recording()) {
        // Rows and size change with every reply: written only when asked for.
        m_state->setToolTip(QStringLiteral("记录文件：%1\n%2 行，%3")
                                .arg(QDir::toNativeSeparators(m_recorder->file_path()))
                                .arg(m_recorder->rows())
                                .arg(QLocale::c().formattedDataSize(m_recorder->bytes())));
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace pondara
