// The trend window on the main window's fake port: how it opens, what the
// values do to the plots and the statistics, gaps, pause, and that it never
// sends a byte.

#include "hex.h"
#include "main_form_test.h"
#include "main_window/trend_feed.h"
#include "window_peer.h"

#include <QAccessible>
#include <QChartView>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <QTimer>
#include <QValueAxis>
#include <algorithm>

using namespace pondara;

class TestTrendWindow : public test::MainFormTest {
    Q_OBJECT

private slots:
    void init();

    // First: the module is loaded once per process.
    void module_refused_data();
    void module_refused();
    void opening_data();
    void opening();
    void readouts_say_how();
    void values_feed_plots_and_statistics();
    void gaps_data();
    void gaps();
    void pause_freezes_and_clear_empties();
    void dense_values_keep_their_extremes();
    void closes_with_main_window();
    void sends_nothing();

private:
    QLineEdit* box(const char* name) const { return m_form->findChild<QLineEdit*>(name); }
    test::FakePortObject* port() const { return m_ports.last(); }
    TrendFeed* hooks() const { return m_form->findChild<TrendFeed*>(); }
    static QWidget* trend() { return test::open_window(QStringLiteral("trend")); }
    QWidget* open_trend() const
    {
        m_form->show_trend();
        return trend();
    }
    QString stat(const char* name) const
    {
        const auto* label = trend()->findChild<QLabel*>(QLatin1String(name));
        return label ? label->text() : QStringLiteral("(no label)");
    }
    // The points of each run drawn on a plot, empty runs left out.
    QList<QList<QPointF>> runs(const char* chart) const
    {
        QList<QList<QPointF>> drawn;
        const auto* view = trend()->findChild<QChartView*>(QLatin1String(chart));
        for (QAbstractSeries* series : view->chart()->series()) {
            const auto* line = qobject_cast<QLineSeries*>(series);
            if (line && line->count() > 0)
                drawn.append(line->points());
        }
        return drawn;
    }
    // The module replies with `value` to a query of `type`, at `ms` on the
    // test's clock.
    void reply(Leixing type, std::uint32_t value, std::int64_t ms)
    {
        m_now = ms;
        const Packet bytes = build_reply(1, static_cast<std::uint8_t>(type), value);
        port()->receive(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    }
    void open_port() const
    {
        m_form->open_comm_Click();
        QVERIFY(port()->portOpen());
    }

    std::int64_t m_now = 0;
};

void TestTrendWindow::init()
{
    m_now = 0;
    make_main_form({}, [this](MainForm& form) {
        // Ticks are the test's: nothing is sent unless the test says so.
        form.findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
        form.findChild<TrendFeed*>()->set_clock([this] { return m_now; });
    });
}

void TestTrendWindow::module_refused_data()
{
    QTest::addColumn<QByteArray>("content");  // of pondara_trend.so; none: no such file
    QTest::addColumn<QString>("told");

    QTest::newRow("no module") << QByteArray() << "趋势图无法打开：找不到绘图模块 ";
    QTest::newRow("not a plug-in") << QByteArray("\x7f"
                                                 "ELF but not really")
                                   << "趋势图无法打开：";
}

void TestTrendWindow::module_refused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, told);

    QTemporaryDir folder;
    if (!content.isEmpty()) {
        QFile module(folder.filePath(QStringLiteral("pondara_trend.so")));
        QVERIFY(module.open(QIODevice::WriteOnly));
        module.write(content);
    }
    const QByteArray built = qgetenv("PONDARA_TREND_MODULE_DIR");
    qputenv("PONDARA_TREND_MODULE_DIR", folder.path().toLocal8Bit());
    m_form->show_trend();
    qputenv("PONDARA_TREND_MODULE_DIR", built);

    QCOMPARE(test::open_window(QStringLiteral("trend")), nullptr);
    QCOMPARE(m_sink.messages().size(), 1);
    QVERIFY2(m_sink.messages().first().text.startsWith(told), qPrintable(m_sink.messages().first().text));
}

void TestTrendWindow::opening_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("readout");

    QTest::newRow("double-click AD_now") << "double-click"
                                         << "AD_now";
    QTest::newRow("double-click weight_now") << "double-click"
                                             << "weight_now";
    QTest::newRow("menu of AD_now") << "menu"
                                    << "AD_now";
    QTest::newRow("menu of weight_now") << "menu"
                                        << "weight_now";
    QTest::newRow("Ctrl+T") << "Ctrl+T"
                            << "";
}

void TestTrendWindow::opening()
{
    QFETCH(QString, how);
    QFETCH(QString, readout);

    QLineEdit* const edit = box(readout.toLatin1().constData());
    if (how == QLatin1String("double-click")) {
        QTest::mouseDClick(edit, Qt::LeftButton);
    } else if (how == QLatin1String("menu")) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(4, 4), edit->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(edit, &event);
        auto* menu = edit->findChild<QMenu*>(QStringLiteral("readout_menu"));
        QVERIFY(menu);
        const QList<QAction*> actions = menu->actions();
        QVERIFY2(actions.size() > 5, "the box's own entries stay");
        const auto entry = std::find_if(actions.begin(), actions.end(), [](const QAction* action) {
            return action->objectName() == QLatin1String("trend_action");
        });
        QVERIFY(entry != actions.end());
        QCOMPARE((*entry)->text(), QStringLiteral("趋势图…"));
        QVERIFY(!trend());
        (*entry)->trigger();
        menu->close();
    } else {
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        QTest::keyClick(m_form.get(), Qt::Key_T, Qt::ControlModifier);
    }
    QWidget* window = trend();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("趋势图 - PondaraV6"));
    QVERIFY(!window->parentWidget());
    // A single instance: opening it again brings the same window forward.
    QCOMPARE(open_trend(), window);
    QVERIFY(m_sink.messages().isEmpty());
}

void TestTrendWindow::readouts_say_how()
{
    for (const char* name : {"AD_now", "weight_now"}) {
        QVERIFY(box(name)->toolTip().contains(QStringLiteral("趋势图")));
        QVERIFY(box(name)->toolTip().contains(QStringLiteral("Ctrl+T")));
    }
}

void TestTrendWindow::values_feed_plots_and_statistics()
{
    open_port();
    reply(Leixing::read_ad, 100, 1000);
    reply(Leixing::read_weight, 50, 1200);
    reply(Leixing::read_ad, 102, 1400);
    reply(Leixing::read_weight, 50, 1600);
    reply(Leixing::read_ad, 104, 1800);
    reply(Leixing::read_weight, 51, 2000);
    QVERIFY(open_trend());

    QCOMPARE(runs("ad_chart"), (QList<QList<QPointF>> {{{1.0, 100}, {0.6, 102}, {0.2, 104}}}));
    QCOMPARE(runs("weight_chart"), (QList<QList<QPointF>> {{{0.8, 50}, {0.4, 50}, {0.0, 51}}}));
    QCOMPARE(stat("ad_window_count"), QStringLiteral("3"));
    QCOMPARE(stat("ad_window_mean"), QStringLiteral("102.00"));
    QCOMPARE(stat("ad_window_deviation"), QStringLiteral("2.00"));
    QCOMPARE(stat("ad_window_minimum"), QStringLiteral("100"));
    QCOMPARE(stat("ad_window_maximum"), QStringLiteral("104"));
    QCOMPARE(stat("ad_window_peak_to_peak"), QStringLiteral("4"));
    QCOMPARE(stat("ad_window_noise_free_counts"), QStringLiteral("4194304"));  // 16777215 / 4
    QCOMPARE(stat("ad_window_noise_free_bits"), QStringLiteral("22.00"));
    QCOMPARE(stat("ad_last10_count"), QStringLiteral("3"));
    QCOMPARE(stat("weight_window_mean"), QStringLiteral("50.33"));
    // Assistive technology reads the value with its caption.
    auto* mean = trend()->findChild<QLabel*>(QStringLiteral("ad_window_mean"));
    QCOMPARE(QAccessible::queryAccessibleInterface(mean)->text(QAccessible::Name),
             QStringLiteral("AD值 窗口内 平均值 102.00"));
    QCOMPARE(stat("weight_stability"), QStringLiteral("稳定"));

    // Live: a value out of the band shows at the next redraw, and ten values
    // later the last-10 column has forgotten the first ones.
    reply(Leixing::read_weight, 60, 2400);
    QTRY_COMPARE(stat("weight_stability"), QStringLiteral("波动"));
    auto* stability = trend()->findChild<QLabel*>(QStringLiteral("weight_stability"));
    QCOMPARE(QAccessible::queryAccessibleInterface(stability)->text(QAccessible::Name),
             QStringLiteral("重量稳定性 波动"));
    // The main window's rule: 50 50 51 60 is within a band of 10.
    m_form->set_motion_rule({10, 1000});
    QTRY_COMPARE(stat("weight_stability"), QStringLiteral("稳定"));
    QVERIFY2(stability->toolTip().contains(QStringLiteral("最小 50，最大 60")), qPrintable(stability->toolTip()));
    for (int i = 0; i < 10; ++i)
        reply(Leixing::read_ad, 200, 2600 + 400 * i);
    QTRY_COMPARE(stat("ad_last10_mean"), QStringLiteral("200.00"));
    QCOMPARE(stat("ad_window_count"), QStringLiteral("13"));
    // The first value left the 1-minute window; the 10-minute one holds it.
    m_now = 61'200;
    QTRY_COMPARE(stat("ad_window_count"), QStringLiteral("12"));
    trend()->findChild<QComboBox*>(QStringLiteral("span"))->setCurrentIndex(1);
    QCOMPARE(stat("ad_window_count"), QStringLiteral("13"));
    const auto* view = trend()->findChild<QChartView*>(QStringLiteral("ad_chart"));
    QCOMPARE(qobject_cast<QValueAxis*>(view->chart()->axes(Qt::Horizontal).value(0))->max(), 600.0);
}

void TestTrendWindow::gaps_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("runs");

    QTest::newRow("port closed and opened") << "close" << 2;
    QTest::newRow("device lost and opened") << "lose" << 2;
    QTest::newRow("module silent for 4 requests") << "silent" << 2;
    QTest::newRow("garbage for 4 requests") << "garbage" << 2;
    QTest::newRow("two requests unanswered") << "two lost" << 1;
}

void TestTrendWindow::gaps()
{
    QFETCH(QString, fault);
    QFETCH(int, runs);

    open_port();
    reply(Leixing::read_ad, 10, 1000);
    reply(Leixing::read_ad, 11, 1400);
    m_form->poll_tick();
    reply(Leixing::read_ad, 12, 1800);
    if (fault == QLatin1String("close")) {
        m_form->open_comm_Click();
        open_port();
    } else if (fault == QLatin1String("lose")) {
        port()->lose();
        open_port();
    } else {
        const int requests = fault == QLatin1String("two lost") ? 2 : 4;
        for (int i = 0; i < requests; ++i) {
            m_form->poll_tick();
            if (fault == QLatin1String("garbage"))
                port()->receive(QByteArray::fromHex("0102030405060708"));
        }
        m_form->poll_tick();
    }
    reply(Leixing::read_ad, 20, 3000);
    reply(Leixing::read_ad, 21, 3400);
    QVERIFY(open_trend());
    const QList<QPointF> before {{2.4, 10}, {2.0, 11}, {1.6, 12}};
    const QList<QPointF> after {{0.4, 20}, {0.0, 21}};
    if (runs == 2)
        QCOMPARE(this->runs("ad_chart"), (QList<QList<QPointF>> {before, after}));
    else
        QCOMPARE(this->runs("ad_chart"), (QList<QList<QPointF>> {before + after}));
    // Statistics go across gaps.
    QCOMPARE(stat("ad_window_count"), QStringLiteral("5"));
}

void TestTrendWindow::pause_freezes_and_clear_empties()
{
    open_port();
    reply(Leixing::read_ad, 100, 1000);
    QWidget* trend = open_trend();
    auto* pause = trend->findChild<QPushButton*>(QStringLiteral("pause"));
    auto* redraw = trend->findChild<QTimer*>(QStringLiteral("redraw"));
    QVERIFY(redraw->isActive());
    QCOMPARE(stat("ad_window_count"), QStringLiteral("1"));

    QTest::mouseClick(pause, Qt::LeftButton);
    QCOMPARE(pause->text(), QStringLiteral("继续"));
    QVERIFY(!redraw->isActive());
    reply(Leixing::read_ad, 110, 1400);
    reply(Leixing::read_ad, 120, 1800);
    QTest::qWait(400);  // longer than a redraw period
    QCOMPARE(stat("ad_window_count"), QStringLiteral("1"));
    QCOMPARE(runs("ad_chart"), (QList<QList<QPointF>> {{{0.0, 100}}}));
    QCOMPARE(hooks()->history().samples(TrendHistory::Channel::ad).size(), std::size_t {3});

    QTest::mouseClick(pause, Qt::LeftButton);
    QCOMPARE(pause->text(), QStringLiteral("暂停"));
    QCOMPARE(stat("ad_window_count"), QStringLiteral("3"));
    QVERIFY(redraw->isActive());
    trend->hide();
    QVERIFY(!redraw->isActive());
    trend->show();
    QVERIFY(redraw->isActive());

    QTest::mouseClick(trend->findChild<QPushButton*>(QStringLiteral("clear")), Qt::LeftButton);
    QCOMPARE(stat("ad_window_count"), QStringLiteral("0"));
    QCOMPARE(stat("ad_window_mean"), QStringLiteral("—"));
    QVERIFY(runs("ad_chart").isEmpty());
}

void TestTrendWindow::dense_values_keep_their_extremes()
{
    open_port();
    // Ten minutes of values 100 and 101 in turn, with one spike and one dip.
    for (int i = 0; i < 1500; ++i)
        reply(Leixing::read_ad, i == 700 ? 500 : i == 900 ? 50 : 100 + i % 2, 400 * i);
    QVERIFY(open_trend());
    trend()->findChild<QComboBox*>(QStringLiteral("span"))->setCurrentIndex(1);
    QCOMPARE(stat("ad_window_count"), QStringLiteral("1500"));
    const QList<QList<QPointF>> drawn = runs("ad_chart");
    QCOMPARE(drawn.size(), 1);
    QVERIFY2(drawn[0].size() < 1500, "thinned to the plot's width");
    QVERIFY(drawn[0].size() > 100);
    const auto [low, high] = std::minmax_element(drawn[0].begin(), drawn[0].end(),
                                                 [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
    QCOMPARE(low->y(), 50.0);
    QCOMPARE(high->y(), 500.0);
    QCOMPARE(high->x(), (1499 - 700) * 0.4);
    // Oldest first, as drawn.
    QVERIFY(std::is_sorted(drawn[0].begin(), drawn[0].end(),
                           [](const QPointF& a, const QPointF& b) { return a.x() > b.x(); }));
}

void TestTrendWindow::closes_with_main_window()
{
    QPointer<QWidget> trend = open_trend();
    QVERIFY(trend);
    m_form->close();
    QTRY_VERIFY(!trend);
}

void TestTrendWindow::sends_nothing()
{
    open_port();
    reply(Leixing::read_ad, 100, 1000);
    QVERIFY(open_trend());
    QTest::keyClick(trend()->findChild<QPushButton*>(QStringLiteral("pause")), Qt::Key_Space);
    QTest::keyClick(trend()->findChild<QPushButton*>(QStringLiteral("pause")), Qt::Key_Space);
    QTest::qWait(600);  // redraws
    QVERIFY(port()->written().isEmpty());
    QCOMPARE(port()->clear_count(), 0);
    // Nor does it queue anything: the next two ticks send the queries due.
    m_form->poll_tick();
    m_form->poll_tick();
    QStringList frames;
    for (const Packet& frame : port()->written())
        frames.append(test::spaced_hex(frame));
    QCOMPARE(frames, (QStringList {"55 01 01 00 00 00 00 57", "55 01 02 00 00 00 00 58"}));
}

QTEST_MAIN(TestTrendWindow)
#include "tst_trend_window.moc"
