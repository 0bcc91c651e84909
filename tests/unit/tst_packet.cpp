// Request building, reply test and reply value against frames written out by
// hand.

#include "hex.h"
#include "protocol/packet.h"

#include <QTest>

using namespace pondara;
using pondara::test::hex_packet;
using pondara::test::hex_rx_buf;
using pondara::test::spaced_hex;

class TestPacket : public QObject {
    Q_OBJECT

private slots:
    void request_data();
    void request();
    void table_rows_data();
    void table_rows();
    void reply_test_data();
    void reply_test();
    void reply_value_data();
    void reply_value();
};

void TestPacket::request_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("leixing");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("read_ad") << 1 << 1 << 0 << "55 01 01 00 00 00 00 57";
    QTest::newRow("read_weight") << 1 << 2 << 0 << "55 01 02 00 00 00 00 58";
    QTest::newRow("zero") << 1 << 3 << 0 << "55 01 03 00 00 00 00 59";
    QTest::newRow("calibrate 1000") << 1 << 4 << 1000 << "55 01 04 00 00 03 E8 45";
    QTest::newRow("write_zhouqi 10") << 1 << 5 << 10 << "55 01 05 03 00 00 0A 68";
    QTest::newRow("read_zhouqi") << 1 << 6 << 0 << "55 01 06 03 00 00 00 5F";
    QTest::newRow("write_kuandu 5") << 1 << 7 << 5 << "55 01 07 03 00 00 05 65";
    QTest::newRow("read_kuandu") << 1 << 8 << 0 << "55 01 08 03 00 00 00 61";
    QTest::newRow("address 0") << 0 << 1 << 0 << "55 00 01 00 00 00 00 56";
    QTest::newRow("address 255, checksum wraps") << 255 << 2 << 0 << "55 FF 02 00 00 00 00 56";
    QTest::newRow("calibrate 16777215") << 1 << 4 << 16777215 << "55 01 04 00 FF FF FF 57";
    QTest::newRow("largest sum") << 255 << 4 << 16777215 << "55 FF 04 00 FF FF FF 55";
}

void TestPacket::request()
{
    QFETCH(int, address);
    QFETCH(int, leixing);
    QFETCH(int, value);
    QFETCH(QString, expected);

    const Command command = make_command(static_cast<Leixing>(leixing), static_cast<std::uint32_t>(value));
    const Packet frame = build_request(static_cast<std::uint8_t>(address), command);
    QCOMPARE(spaced_hex(frame), expected);
    QVERIFY(request_ok(frame));
    QCOMPARE(int(command_value(command)), value);
}

void TestPacket::table_rows_data()
{
    QTest::addColumn<int>("leixing");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("data1");

    QTest::newRow("1") << 1 << "read_ad" << 0;
    QTest::newRow("2") << 2 << "read_weight" << 0;
    QTest::newRow("3") << 3 << "zero" << 0;
    QTest::newRow("4") << 4 << "calibrate" << 0;
    QTest::newRow("5") << 5 << "write_zhouqi" << 3;
    QTest::newRow("6") << 6 << "read_zhouqi" << 3;
    QTest::newRow("7") << 7 << "write_kuandu" << 3;
    QTest::newRow("8") << 8 << "read_kuandu" << 3;
}

void TestPacket::table_rows()
{
    QFETCH(int, leixing);
    QFETCH(QString, name);
    QFETCH(int, data1);

    const CommandInfo& info = command_table.at(static_cast<std::size_t>(leixing - 1));
    QCOMPARE(static_cast<int>(info.leixing), leixing);
    QCOMPARE(QString::fromLatin1(info.name), name);
    QCOMPARE(static_cast<int>(make_command(info.leixing).data1), data1);
}

void TestPacket::reply_test_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<bool>("ok");

    QTest::newRow("weight 100000") << "22 01 02 03 01 86 A0 4F" << true;
    QTest::newRow("zhouqi 12") << "22 01 06 03 00 00 0C 38" << true;
    QTest::newRow("kuandu 12") << "22 01 08 03 00 00 0C 3A" << true;
    QTest::newRow("kuandu 5, bytes 4 and 5 set") << "22 01 07 03 01 02 05 35" << true;
    QTest::newRow("any address") << "22 7F 01 03 00 00 01 A6" << true;
    QTest::newRow("any length") << "22 01 01 09 00 00 01 2E" << true;
    QTest::newRow("checksum wraps to 0") << "22 01 02 03 00 00 D8 00" << true;
    QTest::newRow("request header, right checksum") << "55 01 02 03 01 86 A0 82" << false;
    QTest::newRow("checksum one too high") << "22 01 02 03 01 86 A0 50" << false;
    QTest::newRow("checksum one too low") << "22 01 02 03 01 86 A0 4E" << false;
    QTest::newRow("all zero") << "00 00 00 00 00 00 00 00" << false;
}

void TestPacket::reply_test()
{
    QFETCH(QString, frame);
    QFETCH(bool, ok);

    QCOMPARE(reply_ok(hex_rx_buf(frame.toLatin1().constData())), ok);
}

void TestPacket::reply_value_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<uint>("value");

    QTest::newRow("100000") << "22 01 02 03 01 86 A0 4F" << 100000u;
    QTest::newRow("12345") << "22 01 02 03 00 30 39 91" << 12345u;
    QTest::newRow("FF FF FF is unsigned") << "22 01 01 03 FF FF FF 24" << 16777215u;
    QTest::newRow("zero") << "22 01 01 03 00 00 00 27" << 0u;
    QTest::newRow("high byte only") << "22 01 01 03 80 00 00 A7" << 8388608u;
}

void TestPacket::reply_value()
{
    QFETCH(QString, frame);
    QFETCH(uint, value);

    const RxBuf rx_buf = hex_rx_buf(frame.toLatin1().constData());
    QVERIFY(reply_ok(rx_buf));
    QCOMPARE(pondara::reply_value(rx_buf), value);
}

QTEST_GUILESS_MAIN(TestPacket)
#include "tst_packet.moc"
