// The calibration dialog: what "确认" queues on the main window for each
// text, what it refuses, and the dialog's single-instance life.

#include "dialogs/biaoding.h"
#include "hex.h"
#include "main_form_test.h"
#include "window_peer.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace pondara;

class TestBiaoding : public test::MainFormTest {
    Q_OBJECT

private slots:
    void confirm_data();
    void confirm();
    void cancel_leaves_queued_command_data();
    void cancel_leaves_queued_command();
    void reopening_starts_from_default();
    void single_instance();
    void closing_main_window_closes_dialog();
    void look();
    void queued_calibration_goes_out_at_next_tick();

private:
    Biaoding* open_dialog();
    void open_main_port() const
    {
        m_form->open_comm_Click();
        QVERIFY(m_ports.port(0)->portOpen());
    }
    // Bytes 2..6 of the packet the next tick writes.
    QList<int> next_tick_sends() const
    {
        const qsizetype before = m_ports.port(0)->written().size();
        m_form->poll_tick();
        const QList<Packet> written = m_ports.port(0)->written();
        if (written.size() != before + 1)
            return {};
        const Packet& p = written.last();
        return {p[2], p[3], p[4], p[5], p[6]};
    }
    static Biaoding* biaoding() { return test::open_window<Biaoding>("biaoding"); }
    QLineEdit* value_box() const { return biaoding()->findChild<QLineEdit*>("biaoding_val"); }
    void click(const char* name) const { QTest::mouseClick(biaoding()->findChild<QPushButton*>(name), Qt::LeftButton); }
};

Biaoding* TestBiaoding::open_dialog()
{
    QTest::mouseClick(m_form->findChild<QPushButton*>("biaoding_command"), Qt::LeftButton);
    return biaoding();
}

using Bytes = QList<int>;

void TestBiaoding::confirm_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Bytes>("queued");  // empty: nothing queued
    QTest::addColumn<bool>("closes");
    QTest::addColumn<int>("messages");

    QTest::newRow("default 100") << "100" << Bytes {4, 0, 0, 0, 100} << true << 0;
    QTest::newRow("1") << "1" << Bytes {4, 0, 0, 0, 1} << true << 0;
    QTest::newRow("1000") << "1000" << Bytes {4, 0, 0, 3, 232} << true << 0;
    QTest::newRow("65536") << "65536" << Bytes {4, 0, 1, 0, 0} << true << 0;
    QTest::newRow("16777215") << "16777215" << Bytes {4, 0, 255, 255, 255} << true << 0;
    QTest::newRow("615") << "615" << Bytes {4, 0, 0, 2, 103} << true << 0;
    QTest::newRow("61.5 ties to 62") << "61.5" << Bytes {4, 0, 0, 0, 62} << true << 0;
    QTest::newRow("62.5 ties to 62") << "62.5" << Bytes {4, 0, 0, 0, 62} << true << 0;
    QTest::newRow("blanks around") << " 2 " << Bytes {4, 0, 0, 0, 2} << true << 0;
    QTest::newRow("0 closes silently") << "0" << Bytes {} << true << 0;
    QTest::newRow("0.0 closes silently") << "0.0" << Bytes {} << true << 0;
    QTest::newRow("0.3 rounds to 0: refused") << "0.3" << Bytes {} << false << 1;
    QTest::newRow("-0.3 rounds to 0: refused") << "-0.3" << Bytes {} << false << 1;
    QTest::newRow("16777216") << "16777216" << Bytes {} << false << 1;
    QTest::newRow("-1") << "-1" << Bytes {} << false << 1;
    QTest::newRow("2147483648") << "2147483648" << Bytes {} << false << 1;
    QTest::newRow("letters") << "abc" << Bytes {} << false << 1;
}

void TestBiaoding::confirm()
{
    QFETCH(QString, text);
    QFETCH(Bytes, queued);
    QFETCH(bool, closes);
    QFETCH(int, messages);

    open_main_port();
    open_dialog();
    value_box()->setText(text);
    click("open_comm");

    // The next tick sends what was queued, else the AD query.
    QCOMPARE(next_tick_sends(), queued.isEmpty() ? (Bytes {1, 0, 0, 0, 0}) : queued);
    QCOMPARE(m_sink.messages().size(), messages);
    if (messages > 0) {
        QCOMPARE(m_sink.messages().first().origin, QStringLiteral("biaoding"));
        QVERIFY2(m_sink.messages().first().text.contains("1 到 16777215"), qPrintable(m_sink.messages().first().text));
    }
    if (closes) {
        QTRY_VERIFY(!biaoding());
    } else {
        QVERIFY(biaoding());
        QCOMPARE(value_box()->text(), text);
    }
}

void TestBiaoding::cancel_leaves_queued_command_data()
{
    QTest::addColumn<bool>("close_box");
    QTest::newRow("取消") << false;
    QTest::newRow("close box") << true;
}

void TestBiaoding::cancel_leaves_queued_command()
{
    QFETCH(bool, close_box);

    open_main_port();
    m_form->SET_BUFF({3, 0, 0, 0, 0});
    open_dialog();
    value_box()->setText("500");
    if (close_box)
        biaoding()->close();
    else
        click("Command1");
    QTRY_VERIFY(!biaoding());
    QCOMPARE(next_tick_sends(), (Bytes {3, 0, 0, 0, 0}));
}

void TestBiaoding::reopening_starts_from_default()
{
    open_dialog();
    value_box()->setText("555");
    click("Command1");
    QTRY_VERIFY(!biaoding());
    open_dialog();
    QCOMPARE(value_box()->text(), QStringLiteral("100"));
}

void TestBiaoding::single_instance()
{
    Biaoding* first = open_dialog();
    value_box()->setText("777");
    QCOMPARE(open_dialog(), first);
    QCOMPARE(value_box()->text(), QStringLiteral("777"));
    int dialogs = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        dialogs += w->objectName() == QLatin1String("biaoding") && w->isVisible();
    QCOMPARE(dialogs, 1);
}

void TestBiaoding::closing_main_window_closes_dialog()
{
    QPointer<Biaoding> dialog = open_dialog();
    m_form->close();
    QTRY_VERIFY(!dialog);
}

void TestBiaoding::look()
{
    Biaoding* dialog = open_dialog();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Form1"));
    QVERIFY(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
    QVERIFY(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(value_box()->palette().color(QPalette::Text), QColor(255, 0, 0));
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QCOMPARE(QApplication::focusWidget(), dialog->findChild<QPushButton*>("open_comm"));
    QStringList order;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(order, (QStringList {"Command1", "biaoding_val", "open_comm"}));
}

void TestBiaoding::queued_calibration_goes_out_at_next_tick()
{
    open_main_port();
    test::FakePortObject* port = m_ports.port(0);
    open_dialog();
    value_box()->setText("1000");
    click("open_comm");
    m_form->poll_tick();
    QCOMPARE(port->written().size(), 1);
    QCOMPARE(test::spaced_hex(port->written().last()), QStringLiteral("55 01 04 00 00 03 E8 45"));
    port->receive(test::hex_bytes("22 01 04 03 00 03 E8 15"));
    QCOMPARE(m_sink.texts(), QStringList {QStringLiteral("标定成功")});
}

QTEST_MAIN(TestBiaoding)
#include "tst_biaoding.moc"
