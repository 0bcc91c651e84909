// Hostile text in every box that takes a number: the port number at opening,
// the module address at a tick while polling, the calibration weight at 确认,
// and the sampling period and filter width at 写入. Every text of one table
// goes into every box. A text that is refused gives exactly one message and
// nothing is sent or queued; a text that is taken sends exactly the bytes
// worked out here from the number written by hand beside each text.

#include "dialogs/biaoding.h"
#include "dialogs/canshu.h"
#include "hex.h"
#include "main_form_test.h"
#include "window_peer.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cmath>
#include <cstdint>
#include <limits>

using namespace pondara;
using pondara::test::FakePortObject;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// One hostile text and, written by hand, what it means under the number
// rules: blanks (space, tab) around, an optional sign, decimal digits with an
// optional fraction and exponent, nothing else. `number` is false for a text
// that is no number; otherwise `value` is the number as typed (±inf when it is
// too large for a double) and `nearest` the nearest integer, ties to even.
struct Text {
    const char* name;
    QString text;
    bool number;
    double value;
    double nearest;
};

Text not_a_number(const char* name, const QString& text) { return {name, text, false, 0, 0}; }
Text number(const char* name, const QString& text, double value, double nearest)
{
    return {name, text, true, value, nearest};
}

QList<Text> hostile_texts()
{
    const QChar nul(0);
    const QString emoji = QStringLiteral("\U0001F600");
    // A QLineEdit keeps at most 32767 characters: the long texts below mean
    // the same whether cut there or not.
    return {
        not_a_number("empty", ""),
        not_a_number("blank", " "),
        not_a_number("blanks and tab", " \t "),
        not_a_number("letters", "abc"),
        not_a_number("digits then letter", "12a"),
        number("1e400", "1e400", inf, inf),
        number("-1e400", "-1e400", -inf, -inf),
        number("exponent of 20 digits", "1e99999999999999999999", inf, inf),
        not_a_number("nan", "nan"),
        not_a_number("NaN", "NaN"),
        not_a_number("inf", "inf"),
        not_a_number("-Infinity", "-Infinity"),
        not_a_number("hex 0x10", "0x10"),
        not_a_number("hex &H10", "&H10"),
        not_a_number("comma 1,5", "1,5"),
        not_a_number("thousands 1,000", "1,000"),
        not_a_number("underscore 1_000", "1_000"),
        not_a_number("full-width 12", QStringLiteral("１２")),
        not_a_number("Arabic-Indic 12", QStringLiteral("١٢")),
        not_a_number("--1", "--1"),
        not_a_number("+-1", "+-1"),
        not_a_number("point alone", "."),
        not_a_number("two points", "1.2.3"),
        not_a_number("exponent without digits", "1e"),
        not_a_number("exponent sign without digits", "1e+"),
        not_a_number("exponent alone", "e5"),
        not_a_number("inner blank 1 2", "1 2"),
        not_a_number("no-break space before 7", QStringLiteral("\u00A07")),
        not_a_number("full-width space before 7", QStringLiteral("\u30007")),
        not_a_number("newline after 3", "3\n"),
        not_a_number("NUL after 7", QString("7") + nul),
        not_a_number("NUL between 1 and 2", QString("1") + nul + "2"),
        not_a_number("NUL before 7", nul + QString("7")),
        not_a_number("emoji", emoji),
        not_a_number("5 and emoji", "5" + emoji),
        not_a_number("x and 30 emoji", "x" + emoji.repeated(30)),
        not_a_number("Chinese 十二", QStringLiteral("十二")),
        not_a_number("Chinese 三点五", QStringLiteral("三点五")),
        not_a_number("100,000 letters", QString(100000, QLatin1Char('x'))),
        number("100,000 nines", QString(100000, QLatin1Char('9')), inf, inf),
        number("0. and 99,998 fives", "0." + QString(99998, QLatin1Char('5')), 5.0 / 9.0, 1),
        number("0", "0", 0, 0),
        number("-0", "-0", -0.0, 0),
        number("0.0", "0.0", 0, 0),
        number("1e-400", "1e-400", 0, 0),
        number("1e-300", "1e-300", 1e-300, 0),
        number("0.5", "0.5", 0.5, 0),
        number(".5", ".5", 0.5, 0),
        number("0.99999", "0.99999", 0.99999, 1),
        number("+1", "+1", 1, 1),
        number("-1", "-1", -1, -1),
        number("2.5", "2.5", 2.5, 2),
        number("25E-1", "25E-1", 2.5, 2),
        number("3", "3", 3, 3),
        number("tabs around 3", "\t3\t", 3, 3),
        number("blanks around 7", "  7  ", 7, 7),
        number("5.", "5.", 5, 5),
        number("14.5", "14.5", 14.5, 14),
        number("1.5e1", "1.5e1", 15, 15),
        number("15.0000001", "15.0000001", 15.0000001, 15),
        number("15.5", "15.5", 15.5, 16),
        number("20", "20", 20, 20),
        number("20.5", "20.5", 20.5, 20),
        number("21", "21", 21, 21),
        number("255.5", "255.5", 255.5, 256),
        number("257", "257", 257, 257),
        number("-256", "-256", -256, -256),
        number("-257", "-257", -257, -257),
        number("32767.5", "32767.5", 32767.5, 32768),
        number("-32768.5", "-32768.5", -32768.5, -32768),
        number("16777215", "16777215", 16777215, 16777215),
        number("16777215.5", "16777215.5", 16777215.5, 16777216),
        number("2147483647", "2147483647", 2147483647, 2147483647),
        number("2147483647.5", "2147483647.5", 2147483647.5, 2147483648.0),
        number("-2147483648.5", "-2147483648.5", -2147483648.5, -2147483648.0),
        number("-2147483649", "-2147483649", -2147483649.0, -2147483649.0),
    };
}

void add_text_rows()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("is_number");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("nearest");
    for (const Text& t : hostile_texts())
        QTest::newRow(t.name) << t.text << t.number << t.value << t.nearest;
}

bool within(double x, double low, double high) { return x >= low && x <= high; }

// A request frame as spaced hex: the 7 bytes and their sum's low 8 bits.
QString frame(std::initializer_list<int> seven)
{
    int sum = 0;
    QStringList hex;
    for (int b : seven) {
        sum += b;
        hex.append(QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper());
    }
    hex.append(QStringLiteral("%1").arg(sum & 0xFF, 2, 16, QLatin1Char('0')).toUpper());
    return hex.join(QLatin1Char(' '));
}

QStringList hex_of(const QList<Packet>& packets)
{
    QStringList hex;
    for (const Packet& p : packets)
        hex.append(test::spaced_hex(p));
    return hex;
}

// The message number a refused text gives in the number boxes: 13 when it
// is no number, 6 when it is one out of range.
QString error_number(bool is_number) { return is_number ? QStringLiteral("错误 6：") : QStringLiteral("错误 13："); }

}  // namespace

class TestHostileInput : public test::MainFormTest {
    Q_OBJECT

private slots:
    void port_number_data() { add_text_rows(); }
    void port_number();
    void address_data() { add_text_rows(); }
    void address();
    void calibration_weight_data() { add_text_rows(); }
    void calibration_weight();
    void sampling_period_data() { add_text_rows(); }
    void sampling_period();
    void filter_width_data() { add_text_rows(); }
    void filter_width();

private:
    QLineEdit* box(QWidget* w, const char* name) const { return w->findChild<QLineEdit*>(name); }
    void click(QWidget* w, const char* name) const
    {
        QTest::mouseClick(w->findChild<QPushButton*>(name), Qt::LeftButton);
    }
    FakePortObject* main_port() const { return m_ports.port(0); }
    // Puts `text` into a box and checks the box holds it (cut at its maximum
    // length).
    void type_into(QLineEdit* box, const QString& text) const;
    // Exactly one message, for `origin`, that names the error and stays
    // short and readable whatever was typed.
    void check_one_message(const QString& origin, const QString& contains) const;
    // The main window still polls and shows a reply.
    void check_alive() const;
    void check_parameter(const char* box_name, const char* button, double upper, int type);
};

void TestHostileInput::type_into(QLineEdit* box, const QString& text) const
{
    QVERIFY(box);
    box->setText(text);
    QCOMPARE(box->text(), text.left(box->maxLength()));
}

void TestHostileInput::check_one_message(const QString& origin, const QString& contains) const
{
    QCOMPARE(m_sink.messages().size(), 1);
    const auto& message = m_sink.messages().first();
    QCOMPARE(message.origin, origin);
    QVERIFY2(message.text.contains(contains), qPrintable(contains + " not in: " + message.text));
    QVERIFY2(message.text.size() < 300, qPrintable(QString::number(message.text.size()) + " characters"));
    QVERIFY2(QStringView(message.text).isValidUtf16(), "the message holds a broken character");
    QVERIFY(!message.text.contains(QChar(0)));
}

void TestHostileInput::check_alive() const
{
    box(m_form.get(), "add")->setText("1");
    if (!main_port()->portOpen())
        m_form->open_comm_Click();
    QVERIFY(main_port()->portOpen());
    const auto before = main_port()->written().size();
    m_form->poll_tick();
    QCOMPARE(main_port()->written().size(), before + 1);
    main_port()->receive(test::hex_bytes("22 01 02 03 00 01 C8 F1"));
    main_port()->receive(test::hex_bytes("22 01 01 03 00 01 C8 F0"));
    QCOMPARE(box(m_form.get(), "weight_now")->text(), QStringLiteral("456"));
    QCOMPARE(box(m_form.get(), "AD_now")->text(), QStringLiteral("456"));
}

// 串口号 at opening: an int16 port number.
void TestHostileInput::port_number()
{
    QFETCH(QString, text);
    QFETCH(bool, is_number);
    QFETCH(double, nearest);

    type_into(box(m_form.get(), "chuankou_num"), text);
    click(m_form.get(), "open_comm");
    m_form->poll_tick();

    if (is_number && within(nearest, -32768, 32767)) {
        QVERIFY(main_port()->portOpen());
        QCOMPARE(double(main_port()->opened_comm_port()), nearest);
        QVERIFY(m_sink.messages().isEmpty());
        QCOMPARE(hex_of(main_port()->written()), QStringList {frame({0x55, 1, 1, 0, 0, 0, 0})});
    } else {
        QVERIFY(!main_port()->portOpen());
        QCOMPARE(main_port()->open_count(), 0);
        QVERIFY(main_port()->written().isEmpty());
        check_one_message(QStringLiteral("main_form"), error_number(is_number));
        QVERIFY(m_sink.messages().first().text.contains(QStringLiteral("串口号")));
    }
    box(m_form.get(), "chuankou_num")->setText("1");
    check_alive();
}

// 模块地址 at a tick while polling: int32, then the remainder of division by
// 256 with the sign of the dividend; a negative remainder is an overflow.
void TestHostileInput::address()
{
    QFETCH(QString, text);
    QFETCH(bool, is_number);
    QFETCH(double, nearest);

    m_form->open_comm_Click();
    QVERIFY(main_port()->portOpen());
    type_into(box(m_form.get(), "add"), text);
    for (int i = 0; i < 3; ++i)
        m_form->poll_tick();

    const bool fits = is_number && within(nearest, -2147483648.0, 2147483647.0);
    const auto remainder = fits ? static_cast<std::int64_t>(nearest) % 256 : -1;
    if (fits && remainder >= 0) {
        const int a = static_cast<int>(remainder);
        QCOMPARE(hex_of(main_port()->written()),
                 (QStringList {frame({0x55, a, 1, 0, 0, 0, 0}), frame({0x55, a, 2, 0, 0, 0, 0}),
                               frame({0x55, a, 1, 0, 0, 0, 0})}));
        QVERIFY(main_port()->portOpen());
        QVERIFY(m_sink.messages().isEmpty());
    } else {
        QVERIFY(main_port()->written().isEmpty());
        QVERIFY(!main_port()->portOpen());
        check_one_message(QStringLiteral("main_form"), error_number(is_number));
        QVERIFY(m_sink.messages().first().text.contains(QStringLiteral("模块地址")));
    }
    check_alive();
}

// 标定值 at 确认: a weight of 1..16777215 after rounding; exactly 0 closes
// the dialog and does nothing.
void TestHostileInput::calibration_weight()
{
    QFETCH(QString, text);
    QFETCH(bool, is_number);
    QFETCH(double, value);
    QFETCH(double, nearest);

    m_form->open_comm_Click();
    click(m_form.get(), "biaoding_command");
    QPointer<Biaoding> dialog = test::open_window<Biaoding>("biaoding");
    QVERIFY(dialog);
    type_into(box(dialog, "biaoding_val"), text);
    click(dialog, "open_comm");
    m_form->poll_tick();

    const QStringList read_ad {frame({0x55, 1, 1, 0, 0, 0, 0})};
    if (is_number && value == 0) {
        QTRY_VERIFY(!dialog);
        QVERIFY(m_sink.messages().isEmpty());
        QCOMPARE(hex_of(main_port()->written()), read_ad);
    } else if (is_number && within(nearest, 1, 16777215)) {
        QTRY_VERIFY(!dialog);
        QVERIFY(m_sink.messages().isEmpty());
        const auto w = static_cast<int>(nearest);
        QCOMPARE(hex_of(main_port()->written()),
                 QStringList {frame({0x55, 1, 4, 0, w >> 16, (w >> 8) & 0xFF, w & 0xFF})});
    } else {
        QVERIFY(dialog);
        QCOMPARE(hex_of(main_port()->written()), read_ad);
        check_one_message(QStringLiteral("biaoding"), error_number(is_number));
        QVERIFY(m_sink.messages().first().text.contains(QStringLiteral("标定值")));
    }
    check_alive();
}

// 采样周期 and 滤波宽度 at 写入: the number as typed within 1..15 or 1..20,
// then rounded; anything else is "参数错误".
void TestHostileInput::check_parameter(const char* box_name, const char* button, double upper, int type)
{
    QFETCH(QString, text);
    QFETCH(bool, is_number);
    QFETCH(double, value);
    QFETCH(double, nearest);

    click(m_form.get(), "Command1");
    Canshu* dialog = test::open_window<Canshu>("canshu");
    QVERIFY(dialog);
    FakePortObject* port = m_ports.last();
    QVERIFY(port->portOpen());
    type_into(box(dialog, box_name), text);
    click(dialog, button);

    if (is_number && within(value, 1.0, upper)) {
        QVERIFY(m_sink.messages().isEmpty());
        QCOMPARE(hex_of(port->written()), QStringList {frame({0x55, 1, type, 3, 0, 0, static_cast<int>(nearest)})});
    } else {
        QVERIFY(port->written().isEmpty());
        QCOMPARE(m_sink.texts(), QStringList {QStringLiteral("参数错误")});
        QCOMPARE(m_sink.messages().first().origin, QStringLiteral("canshu"));
    }
    // Closing the dialog hands the device back to the main window.
    dialog->close();
    QTRY_VERIFY(!test::open_window("canshu"));
    m_sink.clear();
    check_alive();
}

void TestHostileInput::sampling_period() { check_parameter("zhouqi", "Command2", 15.0, 5); }
void TestHostileInput::filter_width() { check_parameter("kuandu", "Command4", 20.0, 7); }

QTEST_MAIN(TestHostileInput)
#include "tst_hostile_input.moc"
