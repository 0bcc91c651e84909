// The parameters dialog on fake ports: the hand-over of the device between
// the main window and the dialog, the packets of its buttons with their range
// checks, its reply handling, and the status line after an unanswered
// request, on a clock of the test's own.

#include "dialogs/canshu.h"
#include "hex.h"
#include "main_form_test.h"
#include "window_peer.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace pondara;
using pondara::test::FakePortObject;
using pondara::test::hex_bytes;
using pondara::test::spaced_hex;

class TestCanshu : public test::MainFormTest {
    Q_OBJECT

private slots:
    void hand_over_data();
    void hand_over();
    void dialog_port_fails_at_load_data();
    void dialog_port_fails_at_load();
    void hand_back_fails();
    void dialog_port_lost();
    void main_window_closed_first();
    void buttons_data();
    void buttons();
    void replies_data();
    void replies();
    void status_line_data();
    void status_line();
    void reading_into_letters();
    void help_message();
    void look();

private:
    FakePortObject* main_port() const { return m_ports.port(0); }
    static Canshu* canshu() { return test::open_window<Canshu>("canshu"); }
    FakePortObject* dialog_port() const { return canshu() ? m_ports.last() : nullptr; }
    QLineEdit* box(QWidget* w, const char* name) const { return w->findChild<QLineEdit*>(name); }
    void click(QWidget* w, const char* name) const
    {
        QTest::mouseClick(w->findChild<QPushButton*>(name), Qt::LeftButton);
    }
    QString caption() const { return m_form->findChild<QPushButton*>("open_comm")->text(); }
    Canshu* open_dialog()
    {
        click(m_form.get(), "Command1");
        return canshu();
    }
};

void TestCanshu::hand_over_data()
{
    // Steps: "open" clicks 打开串口/关闭串口, "set" clicks 设置, "close" closes
    // the dialog, "number N" types N into the port number box, "busy" makes
    // the next opening of the main port fail as the device is in use.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("main_open");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("dialog");  // the dialog exists, with its port open
    QTest::addColumn<int>("main_opens");
    QTest::addColumn<int>("messages");

    QTest::newRow("idle, 设置: dialog") << QStringList {"set"} << false << "打开串口" << true << 0 << 0;
    QTest::newRow("polling, 设置: dialog") << QStringList {"open", "set"} << false << "打开串口" << true << 1 << 0;
    QTest::newRow("dialog, 设置: front") << QStringList {"open", "set", "set"} << false << "打开串口" << true << 1 << 0;
    QTest::newRow("dialog closed: polling")
        << QStringList {"open", "set", "close"} << true << "关闭串口" << false << 2 << 0;
    QTest::newRow("idle, 设置, closed: polling")
        << QStringList {"set", "close"} << true << "关闭串口" << false << 1 << 0;
    QTest::newRow("dialog, main reopened on another number")
        << QStringList {"set", "number 2", "open"} << true << "关闭串口" << true << 1 << 0;
    QTest::newRow("reopened, dialog closed: idle")
        << QStringList {"set", "number 2", "open", "close"} << false << "打开串口" << false << 1 << 0;
    QTest::newRow("reopened, 设置: main closed, dialog front")
        << QStringList {"set", "number 2", "open", "set"} << false << "打开串口" << true << 1 << 0;
    QTest::newRow("reopened, open_comm: dialog")
        << QStringList {"set", "number 2", "open", "open"} << false << "打开串口" << true << 1 << 0;
    QTest::newRow("dialog, same device: refused")
        << QStringList {"set", "busy", "open"} << false << "打开串口" << true << 0 << 1;
}

void TestCanshu::hand_over()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, main_open);
    QFETCH(QString, caption);
    QFETCH(bool, dialog);
    QFETCH(int, main_opens);
    QFETCH(int, messages);

    for (const QString& step : steps) {
        if (step == "open") {
            click(m_form.get(), "open_comm");
        } else if (step == "set") {
            click(m_form.get(), "Command1");
        } else if (step == "close") {
            QVERIFY(canshu());
            canshu()->close();
        } else if (step.startsWith("number ")) {
            box(m_form.get(), "chuankou_num")->setText(step.mid(7));
        } else if (step == "busy") {
            main_port()->fail_next_open({OpenFailure::Reason::in_use, QStringLiteral("/dev/pts/9"), {}});
        }
    }
    QTRY_COMPARE(bool(canshu()), dialog);
    QCOMPARE(main_port()->portOpen(), main_open);
    QCOMPARE(this->caption(), caption);
    QCOMPARE(main_port()->open_count(), main_opens);
    QCOMPARE(m_sink.messages().size(), messages);
    // One dialog port at most was made, opened once, on the number typed
    // when 设置 was first clicked.
    QCOMPARE(m_ports.count(), 2);
    FakePortObject* d = m_ports.port(1);
    if (dialog) {
        QVERIFY(d && d->portOpen());
        QCOMPARE(d->open_count(), 1);
        QCOMPARE(int(d->opened_comm_port()), 1);
    }
}

void TestCanshu::dialog_port_fails_at_load_data()
{
    QTest::addColumn<bool>("main_was_open");
    QTest::newRow("main port was open") << true;
    QTest::newRow("main port was closed") << false;
}

void TestCanshu::dialog_port_fails_at_load()
{
    QFETCH(bool, main_was_open);

    // A main window whose every later port (the dialog's) cannot open.
    m_form.reset();
    m_ports = test::FakePortFactory();
    m_ports.set_setup([made = 0](FakePortObject& port) mutable {
        if (made++ > 0)
            port.fail_next_open({OpenFailure::Reason::in_use, QStringLiteral("/dev/ttyUSB0"), {}});
    });
    m_form = std::make_unique<MainForm>(m_ports.factory(), m_sink);
    if (main_was_open)
        click(m_form.get(), "open_comm");
    click(m_form.get(), "Command1");
    QVERIFY(!canshu());
    QCOMPARE(m_sink.messages().size(), 1);
    QVERIFY(m_sink.messages().first().text.contains(QStringLiteral("8005")));
    QCOMPARE(main_port()->portOpen(), main_was_open);
    QCOMPARE(caption(), main_was_open ? QStringLiteral("关闭串口") : QStringLiteral("打开串口"));
}

void TestCanshu::hand_back_fails()
{
    click(m_form.get(), "open_comm");
    Canshu* dialog = open_dialog();
    main_port()->fail_next_open({OpenFailure::Reason::no_such_port, {}, {}});
    dialog->close();
    QTRY_VERIFY(!canshu());
    QVERIFY(!main_port()->portOpen());
    QCOMPARE(caption(), QStringLiteral("打开串口"));
    QCOMPARE(m_sink.messages().size(), 1);
    QVERIFY(m_sink.messages().first().text.contains(QStringLiteral("8002")));
}

void TestCanshu::dialog_port_lost()
{
    Canshu* dialog = open_dialog();
    FakePortObject* port = dialog_port();
    port->lose();
    QCOMPARE(m_sink.messages().size(), 1);
    QVERIFY(m_sink.messages().first().text.contains(QStringLiteral("连接已断开")));
    QCOMPARE(m_sink.messages().first().origin, QStringLiteral("canshu"));
    box(dialog, "zhouqi")->setText("5");
    click(dialog, "Command1");
    click(dialog, "Command2");
    QVERIFY(port->written().isEmpty());
    QCOMPARE(m_sink.messages().size(), 3);
    QVERIFY(m_sink.messages().last().text.contains(QStringLiteral("未打开")));
}

void TestCanshu::main_window_closed_first()
{
    QPointer<Canshu> dialog = open_dialog();
    m_form->close();
    QTRY_VERIFY(!dialog);
    QCOMPARE(main_port()->open_count(), 0);
    QVERIFY(!main_port()->portOpen());
}

using Bytes = QList<int>;

void TestCanshu::buttons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("zhouqi");
    QTest::addColumn<QString>("kuandu");
    QTest::addColumn<QString>("packet");  // empty: nothing sent, "参数错误" shown

    QTest::newRow("读取 period") << "Command1"
                                 << "abc"
                                 << ""
                                 << "55 01 06 03 00 00 00 5F";
    QTest::newRow("读取 width") << "Command3"
                                << ""
                                << "abc"
                                << "55 01 08 03 00 00 00 61";
    QTest::newRow("period 1") << "Command2"
                              << "1"
                              << ""
                              << "55 01 05 03 00 00 01 5F";
    QTest::newRow("period 10") << "Command2"
                               << "10"
                               << ""
                               << "55 01 05 03 00 00 0A 68";
    QTest::newRow("period 15") << "Command2"
                               << "15"
                               << ""
                               << "55 01 05 03 00 00 0F 6D";
    QTest::newRow("period 1.5 ties to 2") << "Command2"
                                          << "1.5"
                                          << ""
                                          << "55 01 05 03 00 00 02 60";
    QTest::newRow("period 14.5 ties to 14") << "Command2"
                                            << "14.5"
                                            << ""
                                            << "55 01 05 03 00 00 0E 6C";
    QTest::newRow("period 0") << "Command2"
                              << "0"
                              << ""
                              << "";
    QTest::newRow("period 0.9") << "Command2"
                                << "0.9"
                                << ""
                                << "";
    QTest::newRow("period 15.4") << "Command2"
                                 << "15.4"
                                 << ""
                                 << "";
    QTest::newRow("period 16") << "Command2"
                               << "16"
                               << ""
                               << "";
    QTest::newRow("width 5") << "Command4"
                             << ""
                             << "5"
                             << "55 01 07 03 00 00 05 65";
    QTest::newRow("width 20") << "Command4"
                              << ""
                              << "20"
                              << "55 01 07 03 00 00 14 74";
    QTest::newRow("width 1") << "Command4"
                             << ""
                             << "1"
                             << "55 01 07 03 00 00 01 61";
    QTest::newRow("width 20.4") << "Command4"
                                << ""
                                << "20.4"
                                << "";
    QTest::newRow("width 21") << "Command4"
                              << ""
                              << "21"
                              << "";
    QTest::newRow("width -3") << "Command4"
                              << ""
                              << "-3"
                              << "";
}

void TestCanshu::buttons()
{
    QFETCH(QString, button);
    QFETCH(QString, zhouqi);
    QFETCH(QString, kuandu);
    QFETCH(QString, packet);

    Canshu* dialog = open_dialog();
    box(dialog, "zhouqi")->setText(zhouqi);
    box(dialog, "kuandu")->setText(kuandu);
    click(dialog, button.toLatin1().constData());
    FakePortObject* port = dialog_port();
    if (packet.isEmpty()) {
        QVERIFY(port->written().isEmpty());
        QCOMPARE(m_sink.texts(), QStringList {QStringLiteral("参数错误")});
    } else {
        QCOMPARE(port->written().size(), 1);
        QCOMPARE(spaced_hex(port->written().first()), packet);
        QCOMPARE(port->clear_count(), 1);
        QVERIFY(m_sink.messages().isEmpty());
        QVERIFY(main_port()->written().isEmpty());
    }
    // Sending never changes the boxes.
    QCOMPARE(box(dialog, "zhouqi")->text(), zhouqi);
    QCOMPARE(box(dialog, "kuandu")->text(), kuandu);
}

void TestCanshu::replies_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("zhouqi");
    QTest::addColumn<QString>("kuandu");

    QTest::newRow("type 6") << "22 01 06 03 00 00 0C 38"
                            << "12"
                            << "7";
    QTest::newRow("type 5") << "22 01 05 03 00 00 03 2E"
                            << "3"
                            << "7";
    QTest::newRow("type 8") << "22 01 08 03 00 00 0C 3A"
                            << "9"
                            << "12";
    QTest::newRow("type 7, bytes 4 and 5 set") << "22 01 07 03 01 02 05 35"
                                               << "9"
                                               << "5";
    QTest::newRow("byte 6 of 255") << "22 01 08 03 00 00 FF 2D"
                                   << "9"
                                   << "255";
    QTest::newRow("type 1") << "22 01 01 03 00 00 05 2C"
                            << "9"
                            << "7";
    QTest::newRow("type 2") << "22 01 02 03 00 00 05 2D"
                            << "9"
                            << "7";
    QTest::newRow("type 3") << "22 01 03 03 00 00 05 2E"
                            << "9"
                            << "7";
    QTest::newRow("type 4") << "22 01 04 03 00 00 05 2F"
                            << "9"
                            << "7";
    QTest::newRow("bad checksum") << "22 01 06 03 00 00 0C 39"
                                  << "9"
                                  << "7";
    QTest::newRow("bad header") << "55 01 06 03 00 00 0C 6B"
                                << "9"
                                << "7";
}

void TestCanshu::replies()
{
    QFETCH(QString, reply);
    QFETCH(QString, zhouqi);
    QFETCH(QString, kuandu);

    Canshu* dialog = open_dialog();
    box(dialog, "zhouqi")->setText("9");
    box(dialog, "kuandu")->setText("7");
    dialog_port()->receive(hex_bytes(reply.toLatin1().constData()));
    QCOMPARE(box(dialog, "zhouqi")->text(), zhouqi);
    QCOMPARE(box(dialog, "kuandu")->text(), kuandu);
    QVERIFY(m_sink.messages().isEmpty());
    // The main window acts on none of them.
    QCOMPARE(m_form->findChild<QLineEdit*>("AD_now")->text(), QStringLiteral("0"));
}

void TestCanshu::status_line_data()
{
    // Steps: "读取" clicks the first row's 读取, "wait N" lets N ms pass on
    // the test's clock, "reply" and "bad reply" are the module's 8 bytes (a
    // valid reply, one with a wrong checksum). `shown` is the status line
    // after each step.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("shown");

    const QString silent = QStringLiteral("模块无应答：请检查地址和接线");
    const QString garbled = QStringLiteral("数据错误：请检查波特率和接线");
    QTest::newRow("answered after 200 ms: stays empty")
        << QStringList {"读取", "wait 200", "reply", "wait 400"} << QStringList {"", "", "", ""};
    QTest::newRow("silent: empty at 400 ms, shown by 600 ms")
        << QStringList {"读取", "wait 400", "wait 200"} << QStringList {"", "", silent};
    QTest::newRow("bad reply: empty at 400 ms, shown by 600 ms")
        << QStringList {"读取", "bad reply", "wait 400", "wait 200"} << QStringList {"", "", "", garbled};
    QTest::newRow("late good reply clears it without a press")
        << QStringList {"读取", "wait 600", "reply"} << QStringList {"", silent, ""};
    QTest::newRow("late bad reply leaves it")
        << QStringList {"读取", "wait 600", "bad reply"} << QStringList {"", silent, silent};
    QTest::newRow("a second request starts the wait again")
        << QStringList {"读取", "wait 300", "读取", "wait 300", "wait 300"} << QStringList {"", "", "", "", silent};
}

void TestCanshu::status_line()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, shown);

    Canshu* dialog = open_dialog();
    auto* status = dialog->findChild<QLabel*>("status");
    auto* timer = dialog->findChild<QTimer*>("reply_check");
    QVERIFY(status && timer);
    // The test's clock: the dialog's timer expires once its interval has
    // passed on it since the last request, whatever the machine's load.
    int now = 0;
    int due = 0;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QString& step = steps[i];
        if (step == "读取") {
            click(dialog, "Command1");
            due = now + timer->interval();
        } else if (step.startsWith("wait ")) {
            now += step.mid(5).toInt();
            if (timer->isActive() && now >= due) {
                QTimerEvent expiry(timer->timerId());
                QCoreApplication::sendEvent(timer, &expiry);
            }
        } else {
            dialog_port()->receive(hex_bytes(step == "reply" ? "22 01 06 03 00 00 0C 38" : "22 01 06 03 00 00 0C 39"));
        }
        QVERIFY2(status->text() == shown[i], qPrintable(step + ": " + status->text()));
    }
}

void TestCanshu::reading_into_letters()
{
    Canshu* dialog = open_dialog();
    box(dialog, "zhouqi")->setText("abc");
    click(dialog, "Command1");
    QCOMPARE(dialog_port()->written().size(), 1);
    QCOMPARE(box(dialog, "zhouqi")->text(), QStringLiteral("abc"));
    dialog_port()->receive(hex_bytes("22 01 06 03 00 00 0C 38"));
    QCOMPARE(box(dialog, "zhouqi")->text(), QStringLiteral("12"));
}

void TestCanshu::help_message()
{
    Canshu* dialog = open_dialog();
    click(dialog, "Command6");
    QCOMPARE(m_sink.texts(),
             QStringList {QStringLiteral("采样周期为AD芯片的采集周期，数值1-15，数值越大，速度越低，精度越高。"
                                         "滤波参数为单片机内部平均值滤波长度，数值1-20，表示取多少个数值做平均")});
    QVERIFY(dialog_port()->written().isEmpty());
}

void TestCanshu::look()
{
    Canshu* dialog = open_dialog();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Form1"));
    QVERIFY(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command4"));
    const QStringList expected {"Command3", "kuandu",   "Command2", "Command1",
                                "zhouqi",   "Command5", "Command6", "Command4"};
    QStringList order;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(order, expected);
}

QTEST_MAIN(TestCanshu)
#include "tst_canshu.moc"
