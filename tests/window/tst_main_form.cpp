// The main window on a fake port: the poll cycle, the one-slot queue, reply
// intake, stale readouts, opening failures, the window's frame, colours and
// tab order, and recording on and off.

#include "hex.h"
#include "main_form_test.h"
#include "window_peer.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

using namespace pondara;
using pondara::test::FakePortObject;
using pondara::test::hex_bytes;

namespace {

// The command types of the packets written, in order.
QList<int> types_of(const QList<Packet>& written)
{
    QList<int> types;
    for (const Packet& p : written)
        types.append(p[2]);
    return types;
}

}  // namespace

class TestMainForm : public test::MainFormTest {
    Q_OBJECT

private slots:
    void init();

    void alternation_continues_after_reopening();
    void set_buff_twice_sends_second_only();
    void queued_command_dropped_while_closed();
    void queued_command_takes_one_query_slot();
    void every_write_empties_input_first();
    void address_byte_data();
    void address_byte();
    void bad_address_closes_port_with_one_message_data();
    void bad_address_closes_port_with_one_message();
    void replies_data();
    void replies();
    void readouts_keep_values_after_closing();
    void readout_colours_data();
    void readout_colours();
    void rx_buf_tail_stays_zero();
    void open_uses_number_data();
    void open_uses_number();
    void bad_port_number_data();
    void bad_port_number();
    void open_failure_data();
    void open_failure();
    void lost_port();
    void link_events_data();
    void link_events();
    void port_box_read_only_at_opening();
    void port_tooltip_lists_ports();
    void link_tooltip_ends_with_notes();
    void window();
    void tab_order_and_focus();
    void recording_on_and_off();

private:
    QLineEdit* box(const char* name) const { return m_form->findChild<QLineEdit*>(name); }
    QPushButton* button(const char* name) const { return m_form->findChild<QPushButton*>(name); }
    FakePortObject* port() const { return m_ports.last(); }
    void open() const
    {
        m_form->open_comm_Click();
        QVERIFY(port()->portOpen());
    }

    QStringList m_machine_ports;
};

void TestMainForm::init()
{
    m_machine_ports = {QStringLiteral("1 = /dev/ttyS0"), QStringLiteral("2 = /dev/ttyUSB0")};
    make_main_form([this] { return m_machine_ports; });
}

void TestMainForm::alternation_continues_after_reopening()
{
    m_form->poll_tick();  // closed: nothing
    open();
    for (int i = 0; i < 3; ++i)
        m_form->poll_tick();
    QCOMPARE(types_of(port()->written()), (QList<int> {1, 2, 1}));
    m_form->open_comm_Click();
    QVERIFY(!port()->portOpen());
    QCOMPARE(button("open_comm")->text(), QStringLiteral("打开串口"));
    m_form->poll_tick();
    open();
    QCOMPARE(button("open_comm")->text(), QStringLiteral("关闭串口"));
    m_form->poll_tick();
    m_form->poll_tick();
    QCOMPARE(types_of(port()->written()), (QList<int> {1, 2, 1, 2, 1}));
}

void TestMainForm::set_buff_twice_sends_second_only()
{
    open();
    m_form->SET_BUFF({3, 0, 0, 0, 0});
    m_form->SET_BUFF({4, 0, 0, 3, 232});
    m_form->poll_tick();
    m_form->poll_tick();
    QCOMPARE(port()->written().size(), 2);
    QCOMPARE(test::spaced_hex(port()->written().first()), QStringLiteral("55 01 04 00 00 03 E8 45"));
    QCOMPARE(types_of(port()->written()).last(), 1);  // taken by the first tick
}

void TestMainForm::queued_command_dropped_while_closed()
{
    QTest::mouseClick(button("clr_command"), Qt::LeftButton);
    m_form->poll_tick();
    open();
    m_form->poll_tick();
    QCOMPARE(types_of(port()->written()), QList<int> {1});
    QVERIFY(m_sink.messages().isEmpty());
}

void TestMainForm::queued_command_takes_one_query_slot()
{
    open();
    m_form->poll_tick();
    m_form->poll_tick();
    QTest::mouseClick(button("clr_command"), Qt::LeftButton);
    m_form->poll_tick();
    m_form->poll_tick();
    m_form->poll_tick();
    QCOMPARE(types_of(port()->written()), (QList<int> {1, 2, 3, 1, 2}));
    QCOMPARE(test::spaced_hex(port()->written()[2]), QStringLiteral("55 01 03 00 00 00 00 59"));
}

void TestMainForm::every_write_empties_input_first()
{
    open();
    port()->receive(hex_bytes("AA BB CC"));
    m_form->poll_tick();
    QCOMPARE(port()->inBufferCount(), 0);
    QCOMPARE(port()->clear_count(), 1);
    m_form->poll_tick();
    QCOMPARE(port()->clear_count(), 2);
}

void TestMainForm::address_byte_data()
{
    QTest::addColumn<QString>("add");
    QTest::addColumn<QString>("packet");

    QTest::newRow("1") << "1"
                       << "55 01 01 00 00 00 00 57";
    QTest::newRow("0") << "0"
                       << "55 00 01 00 00 00 00 56";
    QTest::newRow("255") << "255"
                         << "55 FF 01 00 00 00 00 55";
    QTest::newRow("256 wraps to 0") << "256"
                                    << "55 00 01 00 00 00 00 56";
    QTest::newRow("257 wraps to 1") << "257"
                                    << "55 01 01 00 00 00 00 57";
    QTest::newRow("-256 leaves 0") << "-256"
                                   << "55 00 01 00 00 00 00 56";
    QTest::newRow("1.5 ties to 2") << "1.5"
                                   << "55 02 01 00 00 00 00 58";
    QTest::newRow("2.5 ties to 2") << "2.5"
                                   << "55 02 01 00 00 00 00 58";
    QTest::newRow("blanks around") << " 7 "
                                   << "55 07 01 00 00 00 00 5D";
}

void TestMainForm::address_byte()
{
    QFETCH(QString, add);
    QFETCH(QString, packet);

    box("add")->setText(add);
    open();
    m_form->poll_tick();
    QCOMPARE(port()->written().size(), 1);
    QCOMPARE(test::spaced_hex(port()->written().first()), packet);
}

void TestMainForm::bad_address_closes_port_with_one_message_data()
{
    QTest::addColumn<QString>("add");
    QTest::addColumn<QString>("reason");

    QTest::newRow("-1") << "-1"
                        << "溢出";
    QTest::newRow("empty") << ""
                           << "类型不匹配";
    QTest::newRow("letters") << "abc"
                             << "类型不匹配";
    QTest::newRow("2147483648") << "2147483648"
                                << "溢出";
}

void TestMainForm::bad_address_closes_port_with_one_message()
{
    QFETCH(QString, add);
    QFETCH(QString, reason);

    open();
    box("add")->setText(add);
    for (int i = 0; i < 5; ++i)
        m_form->poll_tick();
    QVERIFY(port()->written().isEmpty());
    QVERIFY(!port()->portOpen());
    QCOMPARE(button("open_comm")->text(), QStringLiteral("打开串口"));
    QCOMPARE(m_sink.messages().size(), 1);
    QVERIFY2(m_sink.messages().first().text.contains(reason), qPrintable(m_sink.messages().first().text));
    QVERIFY(m_sink.messages().first().text.contains(QStringLiteral("模块地址")));
}

void TestMainForm::replies_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("ad");
    QTest::addColumn<QString>("weight");
    QTest::addColumn<QStringList>("messages");

    const QStringList none;
    QTest::newRow("type 1") << "22 01 01 03 01 86 A0 4E"
                            << "100000"
                            << "0" << none;
    QTest::newRow("type 2, 12345") << "22 01 02 03 00 30 39 91"
                                   << "0"
                                   << "12345" << none;
    QTest::newRow("FF FF FF unsigned") << "22 01 02 03 FF FF FF 25"
                                       << "0"
                                       << "16777215" << none;
    QTest::newRow("type 3 unasked") << "22 01 03 03 00 00 00 29"
                                    << "0"
                                    << "0" << QStringList {"零点设置成功"};
    QTest::newRow("type 4") << "22 01 04 03 00 00 64 8E"
                            << "0"
                            << "0" << QStringList {"标定成功"};
    QTest::newRow("type 0") << "22 01 00 03 00 00 05 2B"
                            << "0"
                            << "0" << none;
    QTest::newRow("type 5") << "22 01 05 03 00 00 05 30"
                            << "0"
                            << "0" << none;
    QTest::newRow("type 9") << "22 01 09 03 00 00 05 34"
                            << "0"
                            << "0" << none;
    QTest::newRow("other address accepted") << "22 09 01 03 00 00 05 34"
                                            << "5"
                                            << "0" << none;
    QTest::newRow("request header") << "55 01 01 03 00 00 05 5F"
                                    << "0"
                                    << "0" << none;
    QTest::newRow("checksum one off") << "22 01 01 03 00 00 05 2D"
                                      << "0"
                                      << "0" << none;
}

void TestMainForm::replies()
{
    QFETCH(QString, reply);
    QFETCH(QString, ad);
    QFETCH(QString, weight);
    QFETCH(QStringList, messages);

    open();
    m_form->poll_tick();
    port()->receive(hex_bytes(reply.toLatin1().constData()));
    QCOMPARE(box("AD_now")->text(), ad);
    QCOMPARE(box("weight_now")->text(), weight);
    QCOMPARE(m_sink.texts(), messages);
}

void TestMainForm::readouts_keep_values_after_closing()
{
    open();
    port()->receive(hex_bytes("22 01 01 03 00 00 05 2C"));
    port()->receive(hex_bytes("22 01 02 03 00 30 39 91"));
    m_form->open_comm_Click();
    for (int i = 0; i < 3; ++i)
        m_form->poll_tick();
    QCOMPARE(box("AD_now")->text(), QStringLiteral("5"));
    QCOMPARE(box("weight_now")->text(), QStringLiteral("12345"));
}

void TestMainForm::readout_colours_data()
{
    // Steps: "open" clicks 打开串口/关闭串口, "tick N" runs N poll ticks,
    // "ad" and "weight" are valid replies of that type, "bad ad" one with a
    // wrong checksum, "lose" takes the device away.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QColor>("ad");
    QTest::addColumn<QColor>("weight");

    const QColor blue(Qt::blue);
    const QColor red(Qt::red);
    const QColor grey(0x6d, 0x6d, 0x6d);
    QTest::newRow("never opened") << QStringList {"tick 6"} << blue << red;
    QTest::newRow("4 ticks unanswered: live") << QStringList {"open", "tick 4"} << blue << red;
    QTest::newRow("5 ticks unanswered: grey") << QStringList {"open", "tick 5"} << grey << grey;
    QTest::newRow("AD answered 4 ticks ago, weight 5")
        << QStringList {"open", "tick 1", "ad", "tick 4"} << blue << grey;
    QTest::newRow("next AD value: blue again") << QStringList {"open", "tick 5", "ad"} << blue << grey;
    QTest::newRow("next weight value: red again") << QStringList {"open", "tick 5", "weight"} << grey << red;
    QTest::newRow("bad reply: stays grey") << QStringList {"open", "tick 5", "bad ad"} << grey << grey;
    QTest::newRow("port closed: grey at once") << QStringList {"open", "ad", "weight", "open"} << grey << grey;
    QTest::newRow("device lost: grey at once") << QStringList {"open", "ad", "weight", "lose"} << grey << grey;
    QTest::newRow("reopened: live until 5 ticks pass") << QStringList {"open", "open", "open", "tick 4"} << blue << red;
}

void TestMainForm::readout_colours()
{
    QFETCH(QStringList, steps);
    QFETCH(QColor, ad);
    QFETCH(QColor, weight);

    for (const QString& step : steps) {
        if (step == "open") {
            m_form->open_comm_Click();
        } else if (step.startsWith("tick ")) {
            for (int i = step.mid(5).toInt(); i > 0; --i)
                m_form->poll_tick();
        } else if (step == "ad") {
            port()->receive(hex_bytes("22 01 01 03 00 00 05 2C"));
        } else if (step == "weight") {
            port()->receive(hex_bytes("22 01 02 03 00 30 39 91"));
        } else if (step == "bad ad") {
            port()->receive(hex_bytes("22 01 01 03 00 00 05 2D"));
        } else if (step == "lose") {
            port()->lose();
        }
    }
    QCOMPARE(box("AD_now")->palette().color(QPalette::Text), ad);
    QCOMPARE(box("weight_now")->palette().color(QPalette::Text), weight);
}

void TestMainForm::rx_buf_tail_stays_zero()
{
    open();
    port()->receive(hex_bytes("22 01 01 03 00 00 05 2C 11 22 33 44 55 66 77 88 99 AA BB CC"));
    const RxBuf& rx_buf = test::WindowPeer::rx_buf(*m_form);
    QVERIFY(std::all_of(rx_buf.begin() + 8, rx_buf.end(), [](std::int32_t v) { return v == 0; }));
    QVERIFY(std::all_of(rx_buf.begin(), rx_buf.begin() + 8, [](std::int32_t v) { return v >= 0 && v <= 255; }));
}

void TestMainForm::open_uses_number_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");

    QTest::newRow("3") << "3" << 3;
    QTest::newRow("blanks around 2") << " 2 " << 2;
    QTest::newRow("2.5 ties to 2") << "2.5" << 2;
}

void TestMainForm::open_uses_number()
{
    QFETCH(QString, text);
    QFETCH(int, number);

    box("chuankou_num")->setText(text);
    QTest::mouseClick(button("open_comm"), Qt::LeftButton);
    QVERIFY(port()->portOpen());
    QCOMPARE(int(port()->commPort()), number);
    QCOMPARE(port()->rThreshold(), 8);
    QCOMPARE(button("open_comm")->text(), QStringLiteral("关闭串口"));
    QTest::mouseClick(button("open_comm"), Qt::LeftButton);
    QVERIFY(!port()->portOpen());
    QCOMPARE(button("open_comm")->text(), QStringLiteral("打开串口"));
}

void TestMainForm::bad_port_number_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty") << ""
                           << "类型不匹配";
    QTest::newRow("letters") << "com1"
                             << "类型不匹配";
    QTest::newRow("40000") << "40000"
                           << "溢出";
}

void TestMainForm::bad_port_number()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);

    box("chuankou_num")->setText(text);
    m_form->open_comm_Click();
    QVERIFY(!port()->portOpen());
    QCOMPARE(port()->open_count(), 0);
    QCOMPARE(button("open_comm")->text(), QStringLiteral("打开串口"));
    QCOMPARE(m_sink.messages().size(), 1);
    const QString message = m_sink.messages().first().text;
    QVERIFY2(message.contains(reason) && message.contains(QStringLiteral("串口号")), qPrintable(message));
    m_form->poll_tick();
    QVERIFY(port()->written().isEmpty());
}

void TestMainForm::open_failure_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<QStringList>("words");

    using R = OpenFailure::Reason;
    QTest::newRow("no such port") << int(R::no_such_port)
                                  << QStringList {"8002", "串口 5 不存在", "1 = /dev/ttyS0", "2 = /dev/ttyUSB0"};
    QTest::newRow("in use") << int(R::in_use)
                            << QStringList {"8005", "/dev/ttyUSB9", "占用",
                                            "锁文件 /run/lock/LCK..ttyUSB9 中记录的程序 pondara（进程 4321）正在运行"};
    QTest::newRow("lock of a process that is gone")
        << int(R::stale_lock)
        << QStringList {"8006", "/run/lock/LCK..ttyUSB9", "pondara（进程 4321）已不在运行",
                        "\nsudo rm '/run/lock/LCK..ttyUSB9'"};
    QTest::newRow("suspicious lock") << int(R::suspicious_lock)
                                     << QStringList {"8007", "/run/lock/LCK..ttyUSB9", "可疑", "手工检查"};
    QTest::newRow("no permission") << int(R::no_permission) << QStringList {"8015", "dialout", "/dev/ttyUSB9"};
    QTest::newRow("not a device") << int(R::not_a_device) << QStringList {"8003", "/dev/ttyUSB9"};
    QTest::newRow("other") << int(R::other) << QStringList {"8010", "/dev/ttyUSB9", "I/O error"};
}

void TestMainForm::open_failure()
{
    QFETCH(int, reason);
    QFETCH(QStringList, words);

    box("chuankou_num")->setText("5");
    port()->fail_next_open({static_cast<OpenFailure::Reason>(reason), QStringLiteral("/dev/ttyUSB9"),
                            QStringLiteral("I/O error"), QStringLiteral("/run/lock/LCK..ttyUSB9"),
                            QStringLiteral("pondara"), 4321});
    m_form->open_comm_Click();
    QVERIFY(!port()->portOpen());
    QCOMPARE(button("open_comm")->text(), QStringLiteral("打开串口"));
    QCOMPARE(m_sink.messages().size(), 1);
    const QString message = m_sink.messages().first().text;
    for (const QString& word : words)
        QVERIFY2(message.contains(word), qPrintable(word + " not in: " + message));
    // The next attempt, with the device free, works.
    m_form->open_comm_Click();
    QVERIFY(port()->portOpen());
}

void TestMainForm::lost_port()
{
    open();
    m_form->poll_tick();
    port()->lose();
    QVERIFY(!port()->portOpen());
    QCOMPARE(button("open_comm")->text(), QStringLiteral("打开串口"));
    QCOMPARE(m_sink.messages().size(), 1);
    QVERIFY(m_sink.messages().first().text.contains(QStringLiteral("连接已断开")));
    const auto written = port()->written().size();
    m_form->poll_tick();
    QCOMPARE(port()->written().size(), written);
    open();
    m_form->poll_tick();
    QCOMPARE(port()->written().size(), written + 1);
}

// What the main window's link tells its listeners, one session at a time:
// each event's kind, its bytes or value, and the link's state after it.
void TestMainForm::link_events_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("told");

    QTest::newRow("a weight reply") << "open tick tick reply-2 close"
                                    << QStringList {"opened 1 /dev/fake1 pending",
                                                    "sent 55 01 01 00 00 00 00 57 pending",
                                                    "sent 55 01 02 00 00 00 00 58 pending", "accepted 2 1500 ok",
                                                    "closed 1 /dev/fake1 closed"};
    QTest::newRow("garbage and a short reply") << "open tick garbage tick short tick tick"
                                               << QStringList {"opened 1 /dev/fake1 pending",
                                                               "sent 55 01 01 00 00 00 00 57 pending",
                                                               "dropped header 8 pending",
                                                               "sent 55 01 02 00 00 00 00 58 pending",
                                                               "sent 55 01 01 00 00 00 00 57 pending",
                                                               "sent 55 01 02 00 00 00 00 58 bad_data"};
    QTest::newRow("lost") << "open tick lose"
                          << QStringList {"opened 1 /dev/fake1 pending", "sent 55 01 01 00 00 00 00 57 pending",
                                          "lost 1 /dev/fake1 closed"};
}

void TestMainForm::link_events()
{
    QFETCH(QString, script);
    QFETCH(QStringList, told);

    static const char* const states[] = {"closed", "pending", "ok", "no_reply", "bad_data"};
    QStringList heard;
    connect(&m_form->link(), &ModuleLink::module_event, this, [&](const ModuleEvent& event) {
        const QString state = QLatin1String(states[static_cast<int>(event.link)]);
        const QString bytes = QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(event.bytes.data()), 8).toHex(' ').toUpper());
        switch (event.kind) {
        case ModuleEvent::Kind::opened:
            heard << QStringLiteral("opened %1 %2 %3").arg(event.port_number).arg(event.device, state);
            break;
        case ModuleEvent::Kind::closed:
            heard << QStringLiteral("closed %1 %2 %3").arg(event.port_number).arg(event.device, state);
            break;
        case ModuleEvent::Kind::lost:
            heard << QStringLiteral("lost %1 %2 %3").arg(event.port_number).arg(event.device, state);
            break;
        case ModuleEvent::Kind::request_sent:
            heard << QStringLiteral("sent %1 %2").arg(bytes, state);
            break;
        case ModuleEvent::Kind::reply_accepted:
            heard << QStringLiteral("accepted %1 %2 %3").arg(event.type).arg(event.value).arg(state);
            break;
        case ModuleEvent::Kind::reply_dropped:
            heard << QStringLiteral("dropped %1 %2 %3")
                         .arg(event.drop == LinkHealth::Drop::header ? "header" : "checksum")
                         .arg(event.byte_count)
                         .arg(state);
            break;
        case ModuleEvent::Kind::exchange_silent:
            heard << QStringLiteral("silent %1").arg(state);
            break;
        }
    });
    for (const QString& step : script.split(QLatin1Char(' '))) {
        if (step == QLatin1String("open"))
            open();
        else if (step == QLatin1String("close"))
            m_form->open_comm_Click();
        else if (step == QLatin1String("tick"))
            m_form->poll_tick();
        else if (step == QLatin1String("reply-2"))
            port()->receive(QByteArray::fromHex("220102030005DC09"));
        else if (step == QLatin1String("garbage"))
            port()->receive(QByteArray::fromHex("0102030405060708"));
        else if (step == QLatin1String("short"))
            port()->receive(QByteArray::fromHex("220102"));
        else if (step == QLatin1String("lose"))
            port()->lose();
        QCoreApplication::processEvents();
    }
    QCOMPARE(heard, told);
}

void TestMainForm::port_box_read_only_at_opening()
{
    box("chuankou_num")->setText("2");
    open();
    box("chuankou_num")->setText("7");
    m_form->poll_tick();
    QCOMPARE(int(port()->commPort()), 2);
    m_form->open_comm_Click();
    open();
    QCOMPARE(int(port()->commPort()), 7);
}

void TestMainForm::port_tooltip_lists_ports()
{
    QLineEdit* number = box("chuankou_num");
    QHelpEvent event(QEvent::ToolTip, QPoint(2, 2), number->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(number, &event);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QStringLiteral("1 = /dev/ttyS0\n2 = /dev/ttyUSB0"));
    QToolTip::hideText();
}

// A feature's status line (the MQTT connection's) under the link's own
// lines, and alone while the port is closed.
void TestMainForm::link_tooltip_ends_with_notes()
{
    auto* link = m_form->findChild<QLabel*>("link_state");
    const auto tooltip = [link] {
        QHelpEvent ask(QEvent::ToolTip, QPoint(1, 1), link->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(link, &ask);
        QToolTip::hideText();
        return link->toolTip();
    };
    QCOMPARE(tooltip(), QString());
    m_form->set_link_notes([] { return QStringLiteral("MQTT：已连接 10.0.0.5:1883"); });
    QCOMPARE(tooltip(), QStringLiteral("MQTT：已连接 10.0.0.5:1883"));
    open();
    const QString open_tip = tooltip();
    QVERIFY2(open_tip.contains(QStringLiteral("打开串口以来：请求 0 次"))
                 && open_tip.endsWith(QStringLiteral("\n\nMQTT：已连接 10.0.0.5:1883")),
             qPrintable(open_tip));
}

void TestMainForm::window()
{
    QCOMPARE(m_form->windowTitle(), QStringLiteral("PondaraV6"));
    QVERIFY(!(m_form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
    const QList<QSize> icon_sizes {{16, 16}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}};
    QCOMPARE(m_form->windowIcon().availableSizes(), icon_sizes);
    QCOMPARE(box("AD_now")->palette().color(QPalette::Text), QColor(Qt::blue));
    QCOMPARE(box("weight_now")->palette().color(QPalette::Text), QColor(Qt::red));
}

void TestMainForm::tab_order_and_focus()
{
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QCOMPARE(QApplication::focusWidget(), button("biaoding_command"));
    const QStringList expected {"AD_now",       "weight_now", "chuankou_num", "open_comm",       "clr_command",
                                "help_command", "add",        "Command1",     "biaoding_command"};
    QStringList order;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(order, expected);
}

void TestMainForm::recording_on_and_off()
{
    auto* state = m_form->findChild<QLabel*>("record_state");
    auto* action = m_form->findChild<QAction*>("record_action");
    QCOMPARE(state->text(), QString());
    QCOMPARE(action->text(), QStringLiteral("开始记录…"));

    // Ctrl+R asks for a folder without blocking the window.
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QTest::keyClick(m_form.get(), Qt::Key_R, Qt::ControlModifier);
    auto* chooser = m_form->findChild<QFileDialog*>("record_folder");
    QVERIFY(chooser);
    QVERIFY(chooser->isVisible());
    QTemporaryDir folder;
    chooser->setDirectory(folder.path());
    chooser->selectFile(folder.path());
    static_cast<QDialog*>(chooser)->accept();

    const QStringList files = QDir(folder.path()).entryList({"pondara-*-com1-addr1.csv"}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QCOMPARE(state->text(), QStringLiteral("● 记录中"));
    QCOMPARE(state->accessibleName(), QStringLiteral("● 记录中"));
    QCOMPARE(state->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(action->text(), QStringLiteral("停止记录"));
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), state->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(state, &hover);
    QVERIFY2(state->toolTip().startsWith(QStringLiteral("记录文件：") + QDir(folder.path()).filePath(files[0])),
             qPrintable(state->toolTip()));

    QTest::keyClick(m_form.get(), Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(state->text(), QString());
    QCOMPARE(state->accessibleName(), QString());
    QCOMPARE(action->text(), QStringLiteral("开始记录…"));
    QVERIFY(m_sink.messages().isEmpty());
}

QTEST_MAIN(TestMainForm)
#include "tst_main_form.moc"
