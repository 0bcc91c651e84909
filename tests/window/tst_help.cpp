// The help window: its text against a copy typed from the text's table, and
// its single-instance life.

#include "dialogs/help_text.h"
#include "dialogs/help_window.h"
#include "main_form_test.h"
#include "window_peer.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace pondara;

class TestHelp : public test::MainFormTest {
    Q_OBJECT

private slots:
    void init();
    void text_matches_fixture();
    void fixture_layout();
    void window_shows_text();
    void edits_gone_after_reopening();
    void pressing_help_twice_leaves_one_window();
    void look();

private:
    HelpWindow* press_help();
    QPlainTextEdit* text_box() const
    {
        return test::open_window<HelpWindow>("help")->findChild<QPlainTextEdit*>("Text1");
    }

    QString m_fixture;
};

void TestHelp::init()
{
    QFile file(QStringLiteral(PONDARA_FIXTURES_DIR "/help_text.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    m_fixture = QString::fromUtf8(file.readAll());
    make_main_form();
}

HelpWindow* TestHelp::press_help()
{
    QTest::mouseClick(m_form->findChild<QPushButton*>("help_command"), Qt::LeftButton);
    return test::open_window<HelpWindow>("help");
}

void TestHelp::text_matches_fixture()
{
    const QString text = help_text();
    const QStringList got = text.split(QStringLiteral("\r\n"));
    const QStringList want = m_fixture.split(QStringLiteral("\r\n"));
    // Line by line first, so that a difference names its line.
    for (qsizetype i = 0; i < std::min(got.size(), want.size()); ++i)
        QVERIFY2(got[i] == want[i],
                 qPrintable(QStringLiteral("line %1: \"%2\" != \"%3\"").arg(i + 1).arg(got[i], want[i])));
    QCOMPARE(got.size(), want.size());
    QCOMPARE(text, m_fixture);
}

void TestHelp::fixture_layout()
{
    // 58 lines; an empty line after each but line 2 and the last; the last
    // ends in one CR LF; every line end is CR LF.
    QVERIFY(m_fixture.endsWith(QStringLiteral("\r\n")));
    QVERIFY(!m_fixture.endsWith(QStringLiteral("\r\n\r\n")));
    QCOMPARE(m_fixture.count(QLatin1Char('\n')), m_fixture.count(QStringLiteral("\r\n")));
    QStringList rows = m_fixture.chopped(2).split(QStringLiteral("\r\n"));
    QStringList lines {rows.takeFirst()};
    QCOMPARE(rows.takeFirst(), QString());
    lines.append(rows.takeFirst());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i % 2 == 0)
            lines.append(rows[i]);
        else
            QCOMPARE(rows[i], QString());
    }
    QCOMPARE(lines.size(), 58);
    QCOMPARE(lines[0], QStringLiteral("网址："));
    for (int one_blank : {41, 42, 55})
        QCOMPARE(lines[one_blank - 1], QStringLiteral(" "));
    QCOMPARE(lines[8], QString(7, QLatin1Char(' ')) + QStringLiteral("读取绝对值："));
    QCOMPARE(lines[47].indexOf(QStringLiteral("称重值")) - lines[47].indexOf(QStringLiteral("【data3】")) - 7, 9);
}

void TestHelp::window_shows_text()
{
    press_help();
    QString expected = m_fixture;
    expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QCOMPARE(text_box()->toPlainText(), expected);
}

void TestHelp::edits_gone_after_reopening()
{
    press_help();
    QTest::keyClicks(text_box(), "edited");
    QVERIFY(text_box()->toPlainText().contains("edited"));
    QTest::mouseClick(test::open_window<HelpWindow>("help")->findChild<QPushButton*>("open_comm"), Qt::LeftButton);
    QTRY_VERIFY(!test::open_window<HelpWindow>("help"));
    press_help();
    QVERIFY(!text_box()->toPlainText().contains("edited"));
}

void TestHelp::pressing_help_twice_leaves_one_window()
{
    HelpWindow* first = press_help();
    text_box()->appendPlainText("kept");
    QCOMPARE(press_help(), first);
    QVERIFY(text_box()->toPlainText().endsWith("kept"));
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        windows += w->objectName() == QLatin1String("help") && w->isVisible();
    QCOMPARE(windows, 1);
}

void TestHelp::look()
{
    HelpWindow* window = press_help();
    QCOMPARE(window->windowTitle(), QStringLiteral("Form1"));
    QVERIFY(!text_box()->isReadOnly());
    QCOMPARE(text_box()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(text_box()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCOMPARE(QApplication::focusWidget(), window->findChild<QPushButton*>("open_comm"));
}

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
