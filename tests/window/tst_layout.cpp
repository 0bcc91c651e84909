// Every control of the four windows: its pixel rectangle, worked out by hand
// from its twips (pixels = twips x DPI / 1440, to the nearest pixel), its
// text, font size and buddy, and that it lies over no other. The main window
// and the calibration dialog are also laid out at 192 DPI, in a second run of
// this test on a screen of that logical DPI.

#include "main_form_test.h"
#include "window_peer.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using namespace pondara;

namespace {

// The logical DPI of this run: 96, or what the run at 192 DPI asks for.
int wanted_dpi()
{
    const int dpi = qEnvironmentVariableIntValue("PONDARA_TEST_DPI");
    return dpi > 0 ? dpi : 96;
}

}  // namespace

class TestLayout : public test::MainFormTest {
    Q_OBJECT

private slots:
    void initTestCase();
    void geometry_data();
    void geometry();
    void at_192_dpi();

private:
    QWidget* open(const QString& window);
};

void TestLayout::initTestCase()
{
    const qreal dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
    QVERIFY2(dpi == wanted_dpi(),
             qPrintable(QStringLiteral("the screen is at %1 DPI, not %2").arg(dpi).arg(wanted_dpi())));
}

QWidget* TestLayout::open(const QString& window)
{
    if (window == QLatin1String("main_form"))
        return m_form.get();
    const char* button = window == QLatin1String("biaoding") ? "biaoding_command"
                         : window == QLatin1String("canshu") ? "Command1"
                                                             : "help_command";
    QTest::mouseClick(m_form->findChild<QPushButton*>(button), Qt::LeftButton);
    return test::open_window(window);
}

void TestLayout::geometry_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");  // empty: the window's client area
    QTest::addColumn<QString>("text");  // null: not checked
    QTest::addColumn<QRect>("pixels");
    QTest::addColumn<qreal>("points");  // 0: the toolkit's default font
    QTest::addColumn<QString>("buddy");

    // At 96 DPI a pixel is 15 twips, at 192 DPI 7.5 twips. Rows without a
    // rectangle at 192 DPI are not laid out at 192 DPI.
    const int dpi = wanted_dpi();
    const auto row = [dpi](const char* window, const char* control, const QString& text, QRect at_96, QRect at_192,
                           qreal points, const char* buddy = "") {
        if (dpi == 192 && at_192.isNull())
            return;
        QTest::addRow("%s %s at %d DPI", window, *control ? control : "client area", dpi)
            << QString::fromLatin1(window) << QString::fromLatin1(control) << text << (dpi == 192 ? at_192 : at_96)
            << points << QString::fromLatin1(buddy);
    };
    const QString none;

    // 5820 x 3990 twips.
    row("main_form", "", none, {0, 0, 388, 266}, {0, 0, 776, 532}, 0);
    row("main_form", "Label3", "串口号", {8, 8, 89, 25}, {16, 16, 178, 50}, 15.75, "chuankou_num");
    row("main_form", "chuankou_num", "1", {112, 8, 33, 25}, {224, 16, 66, 50}, 15.75);
    row("main_form", "open_comm", "打开串口", {256, 8, 97, 25}, {512, 16, 194, 50}, 15.75);
    row("main_form", "Label5", "模块地址", {8, 58, 89, 25}, {16, 116, 178, 50}, 15.75, "add");
    row("main_form", "add", "1", {112, 58, 40, 25}, {224, 116, 80, 50}, 15.75);
    row("main_form", "Label2", "当前AD值", {8, 99, 89, 25}, {16, 198, 178, 50}, 15.75, "AD_now");
    row("main_form", "AD_now", "0", {112, 99, 113, 25}, {224, 198, 226, 50}, 15.75);
    row("main_form", "Label1", "当前重量", {8, 147, 89, 25}, {16, 294, 178, 50}, 15.75, "weight_now");
    row("main_form", "weight_now", "0", {112, 147, 113, 25}, {224, 294, 226, 50}, 15.75);
    row("main_form", "clr_command", "置零", {16, 208, 73, 33}, {32, 416, 146, 66}, 15.75);
    row("main_form", "biaoding_command", "标定", {112, 208, 69, 32}, {224, 416, 138, 64}, 15.75);
    row("main_form", "Command1", "设置", {208, 208, 69, 32}, {416, 416, 138, 64}, 15.75);
    row("main_form", "help_command", "帮助", {304, 208, 73, 33}, {608, 416, 146, 66}, 15.75);
    row("main_form", "weight_state", "", {232, 147, 148, 25}, {464, 294, 296, 50}, 15.75);
    row("main_form", "status", "", {8, 244, 372, 21}, {16, 488, 744, 42}, 10.5);

    // 5865 x 4950 twips.
    row("biaoding", "", none, {0, 0, 391, 330}, {0, 0, 782, 660}, 0);
    row("biaoding", "Label1",
        "注意：确认后，称重模块将按照新的值进行重新标定,标定不支持小数（如61.5可用615代替，返回结果再重新加上小数点）",
        {32, 32, 329, 124}, {64, 64, 658, 248}, 18);
    row("biaoding", "Label2", "标定值", {84, 203, 77, 33}, {168, 406, 154, 66}, 18, "biaoding_val");
    row("biaoding", "biaoding_val", "100", {189, 203, 64, 29}, {378, 406, 128, 58}, 15.75);
    row("biaoding", "open_comm", "确认", {63, 273, 97, 25}, {126, 546, 194, 50}, 15.75);
    row("biaoding", "Command1", "取消", {217, 273, 97, 25}, {434, 546, 194, 50}, 15.75);
    row("biaoding", "weight_line", "当前重量 —", {32, 302, 329, 25}, {64, 604, 658, 50}, 15.75);

    // 5940 x 3375 twips.
    row("canshu", "", none, {0, 0, 396, 225}, {}, 0);
    row("canshu", "Label3", "AD模块参数设置", {88, 16, 161, 25}, {}, 15.75);
    row("canshu", "Label1", "采样周期：", {24, 88, 81, 25}, {}, 15, "zhouqi");
    row("canshu", "zhouqi", "", {136, 88, 65, 25}, {}, 15);
    row("canshu", "Command1", "读取", {224, 88, 57, 25}, {}, 15.75);
    row("canshu", "Command2", "写入", {296, 88, 57, 25}, {}, 15.75);
    row("canshu", "Label2", "滤波宽度：", {24, 128, 105, 25}, {}, 15, "kuandu");
    row("canshu", "kuandu", "", {136, 128, 65, 25}, {}, 15);
    row("canshu", "Command3", "读取", {224, 128, 57, 25}, {}, 15.75);
    row("canshu", "Command4", "写入", {296, 128, 57, 25}, {}, 15.75);
    row("canshu", "Command6", "帮助", {56, 176, 105, 25}, {}, 15.75);
    row("canshu", "Command5", "关闭", {224, 176, 105, 25}, {}, 15.75);

    // 8460 x 6930 twips.
    row("help", "", none, {0, 0, 564, 462}, {}, 0);
    row("help", "Label1", "欢迎使用", {248, 8, 97, 25}, {}, 18, "Text1");
    row("help", "Text1", none, {49, 48, 473, 345}, {}, 0);
    row("help", "open_comm", "确认", {224, 424, 97, 25}, {}, 15.75);
}

void TestLayout::geometry()
{
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(QRect, pixels);
    QFETCH(qreal, points);
    QFETCH(QString, buddy);

    QWidget* shown = open(window);
    QVERIFY(shown);
    if (control.isEmpty()) {
        QCOMPARE(shown->size(), pixels.size());
        return;
    }
    auto* widget = shown->findChild<QWidget*>(control);
    QVERIFY(widget);
    const QRect at = widget->geometry();
    QCOMPARE(at.topLeft(), pixels.topLeft());
    const auto* label = qobject_cast<QLabel*>(widget);
    if (label && label->wordWrap()) {
        // A note that wraps may grow downwards, so that its last line shows.
        QCOMPARE(at.width(), pixels.width());
        QVERIFY2(at.height() >= pixels.height(), qPrintable(QString::number(at.height())));
    } else if (label) {
        // A one-line caption may grow to the right, so that it is never cut
        // off, but not over a box or button.
        QCOMPARE(at.height(), pixels.height());
        QVERIFY2(at.width() >= pixels.width(), qPrintable(QString::number(at.width())));
    } else {
        QCOMPARE(at.size(), pixels.size());
    }
    // Nothing over another control or beyond the client area; a note that
    // wraps is left out, as it grows with the font.
    QVERIFY(shown->rect().contains(at));
    const auto wraps = [](const QWidget* w) {
        const auto* l = qobject_cast<const QLabel*>(w);
        return l && l->wordWrap();
    };
    for (const QWidget* other : shown->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        QVERIFY2(other == widget || wraps(widget) || wraps(other) || !other->isVisible()
                     || !at.intersects(other->geometry()),
                 qPrintable(QStringLiteral("%1 wide, over %2").arg(at.width()).arg(other->objectName())));
    }
    if (label)
        QCOMPARE(label->buddy() ? label->buddy()->objectName() : QString(), buddy);

    if (!text.isNull()) {
        if (label)
            QCOMPARE(label->text(), text);
        else if (const auto* box = qobject_cast<QLineEdit*>(widget))
            QCOMPARE(box->text(), text);
        else
            QCOMPARE(qobject_cast<QPushButton*>(widget)->text(), text);
    }
    if (points > 0) {
        QCOMPARE(widget->font().pointSizeF(), points);
        QVERIFY(widget->font().families().contains(QStringLiteral("SimSun")));
    } else {
        QCOMPARE(widget->font(), QApplication::font(widget));
    }
}

void TestLayout::at_192_dpi()
{
    // The same test, on a screen of 192 logical DPI: with the toolkit's own
    // scaling off, the DPI given here is the screen's logical DPI.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PONDARA_TEST_DPI"), QStringLiteral("192"));
    environment.insert(QStringLiteral("QT_FONT_DPI"), QStringLiteral("192"));
    environment.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"), QStringLiteral("0"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess run;
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QCoreApplication::applicationFilePath(), {QStringLiteral("geometry")});
    QVERIFY(run.waitForFinished(-1));
    const QByteArray output = run.readAll();
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, output.constData());
    // 16 rows of the main window and 7 of the calibration dialog, with
    // initTestCase and cleanupTestCase.
    QVERIFY2(output.contains("Totals: 25 passed, 0 failed, 0 skipped"), output.constData());
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
