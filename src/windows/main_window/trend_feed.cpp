#include "main_window/trend_feed.h"

#include "main_window/weighing_watch.h"
#include "ui/message_sink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPluginLoader>

#include <chrono>

// Each step of loading the window's module; silent unless enabled.
Q_LOGGING_CATEGORY(lc_trend, "pondara.trend", QtWarningMsg)

namespace pondara {

namespace {

constexpr char module_name[] = "pondara_trend.so";

// The folder of the window's module: the one installed with the program
// (PONDARA_TREND_MODULE_DIR_FROM_BIN, relative to the program's folder),
// unless PONDARA_TREND_MODULE_DIR names another, as the tests and tools do
// in the build tree.
QString module_path()
{
    QString folder = qEnvironmentVariable("PONDARA_TREND_MODULE_DIR");
    if (folder.isEmpty())
        folder
            = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(PONDARA_TREND_MODULE_DIR_FROM_BIN));
    return QFileInfo(QDir(folder).filePath(QLatin1String(module_name))).absoluteFilePath();
}

// Loads the module once (it stays loaded) and returns its plug-in, or
// nullptr with the reason in `problem`.
TrendWindowPlugin* load_plugin(QString& problem)
{
    static TrendWindowPlugin* plugin = nullptr;
    if (plugin)
        return plugin;
    const QString path = module_path();
    qCDebug(lc_trend).noquote() << "loading" << path;
    if (!QFileInfo::exists(path)) {
        problem = QStringLiteral("找不到绘图模块 %1").arg(path);
        qCInfo(lc_trend).noquote() << "no module at" << path;
        return nullptr;
    }
    QPluginLoader loader(path);
    const QString version
        = loader.metaData().value(QLatin1String("MetaData")).toObject().value(QLatin1String("version")).toString();
    if (version != QLatin1String(PONDARA_VERSION)) {
        problem = QStringLiteral("绘图模块 %1 的版本（%2）与程序（%3）不符")
                      .arg(path, version, QLatin1String(PONDARA_VERSION));
        qCInfo(lc_trend).noquote() << "module version" << version << "does not match" << PONDARA_VERSION;
        return nullptr;
    }
    plugin = qobject_cast<TrendWindowPlugin*>(loader.instance());
    if (!plugin) {
        problem = loader.errorString();
        if (loader.isLoaded())
            problem = QStringLiteral("绘图模块 %1 不是本程序的趋势图模块").arg(path);
        qCInfo(lc_trend).noquote() << "module refused:" << loader.errorString();
        return nullptr;
    }
    qCDebug(lc_trend).noquote() << "loaded" << path << "version" << version;
    return plugin;
}

std::int64_t steady_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TrendFeed::TrendFeed(ModuleLink& link, const WeighingWatch& weighing, QObject* parent)
    : QObject(parent),
      m_link(link),
      m_weighing(weighing),
      m_clock(steady_ms)
{
    setObjectName(QStringLiteral("trend_feed"));
    connect(&link, &ModuleLink::module_event, this, &TrendFeed::take);
}

QWidget* TrendFeed::make_window(MessageSink& messages, QWidget* window)
{
    QString problem;
    if (TrendWindowPlugin* plugin = load_plugin(problem))
        return plugin->make_window(*this);
    messages.post(window, QStringLiteral("趋势图无法打开：%1").arg(problem));
    return nullptr;
}

MotionRule TrendFeed::motion_rule() const { return m_weighing.rule(); }

bool TrendFeed::link_ok() const { return m_link.health().state() == LinkHealth::State::ok; }

void TrendFeed::take(const ModuleEvent& event)
{
    using State = LinkHealth::State;
    if (event.link == State::closed || event.link == State::no_reply || event.link == State::bad_data)
        m_history.mark_gap();
    if (event.kind != ModuleEvent::Kind::reply_accepted)
        return;
    if (event.type == static_cast<std::uint8_t>(Leixing::read_ad))
        m_history.add(TrendHistory::Channel::ad, now_ms(), event.value);
    else if (event.type == static_cast<std::uint8_t>(Leixing::read_weight))
        m_history.add(TrendHistory::Channel::weight, now_ms(), event.value);
}

}  // namespace pondara
