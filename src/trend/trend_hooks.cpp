#include "trend/trend_hooks.h"

#include "main_window/main_form.h"
#include "main_window/message_sink.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>

#include <chrono>

namespace pondara {

namespace {

const QString trend_tip = QStringLiteral("双击、右键菜单“趋势图…”或 Ctrl+T：打开趋势图");

// Where the window's module is: beside the installed program
// (PONDARA_TREND_MODULE_FROM_BIN, relative to its folder), else where the
// build put it.
QStringList module_paths()
{
    return {QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(PONDARA_TREND_MODULE_FROM_BIN)),
            QStringLiteral(PONDARA_TREND_MODULE_BUILT)};
}

// Loads the module once (it stays loaded) and returns its entry point, or
// nullptr with the reason in `problem`.
MakeTrendWindow load_window_code(QString& problem)
{
    static MakeTrendWindow make = nullptr;
    if (make)
        return make;
    for (const QString& path : module_paths()) {
        if (!QFileInfo::exists(path))
            continue;
        QLibrary module(path);
        make = reinterpret_cast<MakeTrendWindow>(module.resolve(make_trend_window_symbol));
        if (make)
            return make;
        problem = module.errorString();
        return nullptr;
    }
    problem = QStringLiteral("找不到绘图模块 %1").arg(module_paths().constFirst());
    return nullptr;
}

std::int64_t steady_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TrendHooks::TrendHooks(MainForm& main_form, MessageSink& messages, QLineEdit* ad_now, QLineEdit* weight_now)
    : QObject(&main_form),
      m_main_form(main_form),
      m_messages(messages),
      m_ad_now(ad_now),
      m_weight_now(weight_now),
      m_clock(steady_ms)
{
    setObjectName(QStringLiteral("trend_hooks"));
    for (QLineEdit* readout : {m_ad_now, m_weight_now}) {
        readout->setToolTip(trend_tip);
        readout->installEventFilter(this);
    }
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), &main_form);
    shortcut->setObjectName(QStringLiteral("trend_shortcut"));
    connect(shortcut, &QShortcut::activated, &main_form, &MainForm::show_trend);

    connect(&main_form, &MainForm::value_received, this, &TrendHooks::take_value);
    connect(&main_form, &MainForm::link_refreshed, this, &TrendHooks::take_link);
}

QWidget* TrendHooks::make_window()
{
    QString problem;
    if (const MakeTrendWindow make = load_window_code(problem))
        return make(*this);
    m_messages.post(&m_main_form, QStringLiteral("趋势图无法打开：%1").arg(problem));
    return nullptr;
}

void TrendHooks::take_value(Leixing type, std::uint32_t value)
{
    const auto channel = type == Leixing::read_ad ? TrendHistory::Channel::ad : TrendHistory::Channel::weight;
    m_history.add(channel, now_ms(), value);
}

void TrendHooks::take_link(LinkHealth::State state)
{
    using State = LinkHealth::State;
    if (state == State::closed || state == State::no_reply || state == State::bad_data)
        m_history.mark_gap();
}

bool TrendHooks::eventFilter(QObject* watched, QEvent* event)
{
    auto* readout = qobject_cast<QLineEdit*>(watched);
    if (readout != m_ad_now && readout != m_weight_now)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonDblClick) {
        m_main_form.show_trend();
        return false;  // the box still selects the number, as usual
    }
    if (event->type() == QEvent::ContextMenu) {
        // The box's own menu, plus one entry.
        QMenu* menu = readout->createStandardContextMenu();
        menu->setObjectName(QStringLiteral("trend_menu"));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addSeparator();
        QAction* open = menu->addAction(QStringLiteral("趋势图…"));
        open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
        connect(open, &QAction::triggered, &m_main_form, &MainForm::show_trend);
        menu->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace pondara
