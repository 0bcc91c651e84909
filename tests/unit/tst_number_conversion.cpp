// Conversion of typed text: what counts as a number, rounding ties to even,
// range checks, and the address rule.

#include "protocol/number_conversion.h"

#include <QTest>

#include <clocale>
#include <string>

using namespace pondara;

Q_DECLARE_METATYPE(pondara::ConversionError)

namespace {

// A result as one comparable string: "ok 2" or "type mismatch" / "overflow".
template <typename T>
QString describe(const Converted<T>& result)
{
    switch (result.error()) {
    case ConversionError::none:
        return QStringLiteral("ok %1").arg(static_cast<double>(result.value()), 0, 'g', 17);
    case ConversionError::type_mismatch:
        return QStringLiteral("type mismatch");
    case ConversionError::overflow:
        return QStringLiteral("overflow");
    }
    return {};
}

const QString mismatch = QStringLiteral("type mismatch");
const QString overflow = QStringLiteral("overflow");
QString ok(double v) { return QStringLiteral("ok %1").arg(v, 0, 'g', 17); }

}  // namespace

class TestNumberConversion : public QObject {
    Q_OBJECT

private slots:
    void integers_data();
    void integers();
    void to_double_data();
    void to_double();
    void address_data();
    void address();
    void decimal_point_ignores_locale();
};

void TestNumberConversion::integers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("int16");
    QTest::addColumn<QString>("int32");
    QTest::addColumn<QString>("byte");

    QTest::newRow("1") << QByteArray("1") << ok(1) << ok(1) << ok(1);
    QTest::newRow("1.5 ties to even") << QByteArray("1.5") << ok(2) << ok(2) << ok(2);
    QTest::newRow("2.5 ties to even") << QByteArray("2.5") << ok(2) << ok(2) << ok(2);
    QTest::newRow("3.5 ties to even") << QByteArray("3.5") << ok(4) << ok(4) << ok(4);
    QTest::newRow("2.51 rounds up") << QByteArray("2.51") << ok(3) << ok(3) << ok(3);
    QTest::newRow("-0.5 gives 0") << QByteArray("-0.5") << ok(0) << ok(0) << ok(0);
    QTest::newRow("-0.6 gives -1") << QByteArray("-0.6") << ok(-1) << ok(-1) << overflow;
    QTest::newRow("blanks around") << QByteArray(" 2 ") << ok(2) << ok(2) << ok(2);
    QTest::newRow("tab and blanks") << QByteArray("\t 2\t") << ok(2) << ok(2) << ok(2);
    QTest::newRow("plus sign") << QByteArray("+1") << ok(1) << ok(1) << ok(1);
    QTest::newRow(".5 gives 0") << QByteArray(".5") << ok(0) << ok(0) << ok(0);
    QTest::newRow("5.") << QByteArray("5.") << ok(5) << ok(5) << ok(5);
    QTest::newRow("exponent") << QByteArray("1e2") << ok(100) << ok(100) << ok(100);
    QTest::newRow("negative exponent") << QByteArray("25E-1") << ok(2) << ok(2) << ok(2);
    QTest::newRow("empty") << QByteArray("") << mismatch << mismatch << mismatch;
    QTest::newRow("blanks only") << QByteArray("   ") << mismatch << mismatch << mismatch;
    QTest::newRow("letters") << QByteArray("abc") << mismatch << mismatch << mismatch;
    QTest::newRow("digits then letters") << QByteArray("12a") << mismatch << mismatch << mismatch;
    QTest::newRow("inner blank") << QByteArray("1 2") << mismatch << mismatch << mismatch;
    QTest::newRow("sign alone") << QByteArray("-") << mismatch << mismatch << mismatch;
    QTest::newRow("double sign") << QByteArray("--1") << mismatch << mismatch << mismatch;
    QTest::newRow("point alone") << QByteArray(".") << mismatch << mismatch << mismatch;
    QTest::newRow("exponent without digits") << QByteArray("1e") << mismatch << mismatch << mismatch;
    QTest::newRow("hex 0x") << QByteArray("0x10") << mismatch << mismatch << mismatch;
    QTest::newRow("hex &H") << QByteArray("&H10") << mismatch << mismatch << mismatch;
    QTest::newRow("comma") << QByteArray("1,5") << mismatch << mismatch << mismatch;
    QTest::newRow("full-width digit") << QByteArray("\xEF\xBC\x91") << mismatch << mismatch << mismatch;
    QTest::newRow("inf") << QByteArray("inf") << mismatch << mismatch << mismatch;
    QTest::newRow("nan") << QByteArray("nan") << mismatch << mismatch << mismatch;
    QTest::newRow("embedded NUL") << QByteArray("1\0"
                                                "2",
                                                3)
                                  << mismatch << mismatch << mismatch;
    QTest::newRow("255") << QByteArray("255") << ok(255) << ok(255) << ok(255);
    QTest::newRow("255.5 rounds to 256") << QByteArray("255.5") << ok(256) << ok(256) << overflow;
    QTest::newRow("256") << QByteArray("256") << ok(256) << ok(256) << overflow;
    QTest::newRow("32767") << QByteArray("32767") << ok(32767) << ok(32767) << overflow;
    QTest::newRow("32767.5 rounds out") << QByteArray("32767.5") << overflow << ok(32768) << overflow;
    QTest::newRow("-32768.5 ties to even") << QByteArray("-32768.5") << ok(-32768) << ok(-32768) << overflow;
    QTest::newRow("40000") << QByteArray("40000") << overflow << ok(40000) << overflow;
    QTest::newRow("2147483647") << QByteArray("2147483647") << overflow << ok(2147483647) << overflow;
    QTest::newRow("2147483647.5") << QByteArray("2147483647.5") << overflow << overflow << overflow;
    QTest::newRow("2147483648") << QByteArray("2147483648") << overflow << overflow << overflow;
    QTest::newRow("-2147483648.5") << QByteArray("-2147483648.5") << overflow << ok(-2147483648.0) << overflow;
    QTest::newRow("-2147483649") << QByteArray("-2147483649") << overflow << overflow << overflow;
    QTest::newRow("1e400") << QByteArray("1e400") << overflow << overflow << overflow;
    QTest::newRow("-1e400") << QByteArray("-1e400") << overflow << overflow << overflow;
    QTest::newRow("1e-400 is 0") << QByteArray("1e-400") << ok(0) << ok(0) << ok(0);
}

void TestNumberConversion::integers()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, int16);
    QFETCH(QString, int32);
    QFETCH(QString, byte);

    const std::string_view view(text.constData(), static_cast<std::size_t>(text.size()));
    QCOMPARE(describe(to_int16(view)), int16);
    QCOMPARE(describe(to_int32(view)), int32);
    QCOMPARE(describe(to_byte(view)), byte);
}

void TestNumberConversion::to_double_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("fraction kept") << QByteArray("61.5") << ok(61.5);
    QTest::newRow("0.3") << QByteArray(" 0.3 ") << ok(0.3);
    QTest::newRow("negative zero is zero") << QByteArray("-0") << ok(0);
    QTest::newRow("100000-character text") << QByteArray(100000, '7') << overflow;
    QTest::newRow("long fraction") << QByteArray("0." + QByteArray(5000, '5')) << ok(0.5555555555555556);
    QTest::newRow("emoji") << QByteArray("\xF0\x9F\x98\x80") << mismatch;
}

void TestNumberConversion::to_double()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);

    QCOMPARE(describe(pondara::to_double({text.constData(), static_cast<std::size_t>(text.size())})), expected);
}

void TestNumberConversion::address_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("1") << QByteArray("1") << ok(1);
    QTest::newRow("0") << QByteArray("0") << ok(0);
    QTest::newRow("255") << QByteArray("255") << ok(255);
    QTest::newRow("256 wraps to 0") << QByteArray("256") << ok(0);
    QTest::newRow("257 wraps to 1") << QByteArray("257") << ok(1);
    QTest::newRow("-256 leaves 0") << QByteArray("-256") << ok(0);
    QTest::newRow("-512 leaves 0") << QByteArray("-512") << ok(0);
    QTest::newRow("-0.5 rounds to 0") << QByteArray("-0.5") << ok(0);
    QTest::newRow("1.5 ties to 2") << QByteArray("1.5") << ok(2);
    QTest::newRow("2.5 ties to 2") << QByteArray("2.5") << ok(2);
    QTest::newRow("-1 is no byte") << QByteArray("-1") << overflow;
    QTest::newRow("-257 is no byte") << QByteArray("-257") << overflow;
    QTest::newRow("2147483647 wraps to 255") << QByteArray("2147483647") << ok(255);
    QTest::newRow("2147483648") << QByteArray("2147483648") << overflow;
    QTest::newRow("empty") << QByteArray("") << mismatch;
    QTest::newRow("letters") << QByteArray("x1") << mismatch;
}

void TestNumberConversion::address()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);

    QCOMPARE(describe(to_address_byte({text.constData(), static_cast<std::size_t>(text.size())})), expected);
}

void TestNumberConversion::decimal_point_ignores_locale()
{
    // A desktop locale with a decimal comma must not change what "1.5" means.
    // Without that locale the test proves nothing, so it fails instead of
    // falling back to one with a decimal point.
    const std::string before = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QFAIL("the locale de_DE.UTF-8 is missing: scripts/install-deps generates it");
    QCOMPARE(QByteArray(std::localeconv()->decimal_point), QByteArray(","));
    const auto point = describe(pondara::to_double("1.5"));
    const auto comma = describe(to_int32("1,5"));
    std::setlocale(LC_ALL, before.c_str());
    QCOMPARE(point, ok(1.5));
    QCOMPARE(comma, mismatch);
}

QTEST_GUILESS_MAIN(TestNumberConversion)
#include "tst_number_conversion.moc"
