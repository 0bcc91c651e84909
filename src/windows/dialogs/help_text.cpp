#include "dialogs/help_text.h"

#include <QStringList>

namespace pondara {

namespace {

// Runs of blanks align the columns of the packet tables; they are written as
// counts so that they can be checked at a glance.
QString blanks(int count) { return QString(count, QLatin1Char(' ')); }

QStringList lines()
{
    const QString header = QStringLiteral("数据头") + blanks(11) + QStringLiteral("0x55");
    const QString address = QStringLiteral("地址：") + blanks(11) + QStringLiteral("0x01");
    const QString length = QStringLiteral("数据长度") + blanks(7) + QStringLiteral("后续数据的长度3字节，0x03");
    const QString zeros = QStringLiteral("数据") + blanks(14) + QStringLiteral("0，0，0");
    const QString type = QStringLiteral("数据类型") + blanks(7);
    const QString check = QStringLiteral("校验") + blanks(11);
    const QString total = QStringLiteral("一共8个字节");

    return {
        QStringLiteral("网址："),  // we publish no web address
        QStringLiteral("通信协议："),
        QStringLiteral("采用232或485协议通信，（9600。8。n.。1）每个数据包包含8个字节，"),
        QStringLiteral("电源电压："),
        QStringLiteral("7-12V"),
        QStringLiteral("电流："),
        QStringLiteral("20-50mA"),
        QStringLiteral("主机到从机："),
        blanks(7) + QStringLiteral("读取绝对值："),
        header,
        address,
        type + QStringLiteral("0x01：查询当前称重绝对值"),
        length,
        zeros,
        check + QStringLiteral("一字节和校验 0x5A"),
        total,
        QStringLiteral("读取重量值："),
        header,
        address,
        type + QStringLiteral("0x02：查询当前重量值"),
        length,
        zeros,
        check + QStringLiteral("一字节和校验 0x5B"),
        total,
        QStringLiteral("零点确认："),
        header,
        address,
        type + QStringLiteral("0x03：标定当前重量值"),
        length,
        zeros,
        check + QStringLiteral("一字节和校验 0x5C"),
        QStringLiteral("注意：零点确认以后，称重模块会以当前的绝对值作为零点。"),
        QStringLiteral("重量值标定："),
        header,
        address,
        type + QStringLiteral("0x04：标定当前重量值"),
        length,
        QStringLiteral("数据") + blanks(14) + QStringLiteral("数据高字节，数据低字节，0"),
        check + QStringLiteral("和校验"),
        QStringLiteral("其中：数据高字节和数据低字节代表的是当前的重量值，重量值越大，结果越准确。"),
        blanks(1),
        blanks(1),
        QStringLiteral("从机到主机："),
        QStringLiteral("数据头") + blanks(11) + QStringLiteral("0x22"),
        QStringLiteral("地址") + blanks(14) + QStringLiteral("本机地址 0x01"),
        type + QStringLiteral("0x01：回应主机查询当前称重值"),
        length,
        QStringLiteral("数据") + blanks(14) + QStringLiteral("【data1】 【data2】 【data3】") + blanks(9)
            + QStringLiteral("称重值,从前往后分别是数据高字节 中间字节 最低字节"),
        QStringLiteral("校验") + blanks(14) + QStringLiteral("最后是一个字节校验和"),
        total,
        QStringLiteral("标定："),
        QStringLiteral("1.") + blanks(9) + QStringLiteral("零点确认，去皮"),
        QStringLiteral("2.") + blanks(9) + QStringLiteral("施加相应的重量，按照具体的重量值标定。"),
        QStringLiteral("3.") + blanks(9) + QStringLiteral("标定完毕后可直接读取当前的称重结果。"),
        blanks(1),
        QStringLiteral("注意事项："),
        QStringLiteral("AD转换模块负责把当前的AD转化绝对值或称重值回传。"),
        QStringLiteral("若需要回传称重结果，需要先标定。"),
    };
}

}  // namespace

QString help_text()
{
    const QString crlf = QStringLiteral("\r\n");
    const QStringList all = lines();
    QString text;
    for (qsizetype i = 0; i < all.size(); ++i) {
        text += all[i] + crlf;
        // An empty line after each line, except after line 2 and the last.
        if (i != 1 && i != all.size() - 1)
            text += crlf;
    }
    return text;
}

}  // namespace pondara
