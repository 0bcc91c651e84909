#include "ui/messages.h"

namespace pondara::messages {

namespace {

QString title_of(ErrorNumber number)
{
    switch (number) {
    case ErrorNumber::overflow:
        return QStringLiteral("溢出");
    case ErrorNumber::type_mismatch:
        return QStringLiteral("类型不匹配");
    case ErrorNumber::no_such_port:
        return QStringLiteral("端口号无效");
    case ErrorNumber::not_a_device:
        return QStringLiteral("不是串口设备");
    case ErrorNumber::port_in_use:
        return QStringLiteral("端口已被占用");
    case ErrorNumber::stale_lock:
        return QStringLiteral("锁文件残留");
    case ErrorNumber::suspicious_lock:
        return QStringLiteral("锁文件可疑");
    case ErrorNumber::device_error:
        return QStringLiteral("串口错误");
    case ErrorNumber::no_permission:
        return QStringLiteral("没有权限");
    case ErrorNumber::port_not_open:
        return QStringLiteral("串口未打开");
    case ErrorNumber::connection_lost:
        return QStringLiteral("连接已断开");
    }
    return {};
}

QString port_name(int port_number, const QString& device)
{
    const QString name = QStringLiteral("串口 %1").arg(port_number);
    return device.isEmpty() ? name : QStringLiteral("%1（%2）").arg(name, device);
}

// The holder a lock file names: "程序 minicom（进程 1234）" or "进程 1234".
QString lock_holder(const OpenFailure& failure)
{
    return failure.lock_program.isEmpty()
               ? QStringLiteral("进程 %1").arg(failure.lock_pid)
               : QStringLiteral("程序 %1（进程 %2）").arg(failure.lock_program, QString::number(failure.lock_pid));
}

// `text` as one word of a shell command, whatever characters it holds.
QString shell_quoted(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\'');
}

QString in_use(const QString& port, const OpenFailure& failure, const QString& detail)
{
    QString held;
    if (failure.lock_pid > 0)
        held = QStringLiteral("\n锁文件 %1 中记录的%2正在运行。").arg(failure.lock_file, lock_holder(failure));
    else if (!failure.lock_file.isEmpty())
        held = QStringLiteral("\n锁文件：%1").arg(failure.lock_file);
    return error(ErrorNumber::port_in_use,
                 QStringLiteral("%1已被本程序的其他窗口或其他程序打开。%2%3").arg(port, held, detail));
}

}  // namespace

QString error(ErrorNumber number, const QString& description)
{
    return QStringLiteral("错误 %1：%2\n%3").arg(static_cast<int>(number)).arg(title_of(number), description);
}

QString quoted(const QString& text)
{
    constexpr int max_length = 40;
    QString shown = text.left(max_length + 1);
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control || c.isNull())
            c = QLatin1Char(' ');
    }
    if (shown.size() > max_length) {
        // A character outside the BMP takes two UTF-16 units: cut before it
        // rather than through it, which would leave half a character.
        const int cut = shown.at(max_length - 1).isHighSurrogate() ? max_length - 1 : max_length;
        shown = shown.left(cut) + QStringLiteral("…");
    }
    return QStringLiteral("“%1”").arg(shown);
}

QString conversion_failed(const QString& box_caption, const QString& text, ConversionError error,
                          const QString& allowed)
{
    const bool overflow = error == ConversionError::overflow;
    const QString what = overflow ? QStringLiteral("超出范围") : QStringLiteral("不是数字");
    return messages::error(
        overflow ? ErrorNumber::overflow : ErrorNumber::type_mismatch,
        QStringLiteral("“%1”中的%2%3。\n允许的值：%4。").arg(box_caption, quoted(text), what, allowed));
}

QString address_failed(const QString& text, ConversionError error)
{
    return conversion_failed(QStringLiteral("模块地址"), text, error,
                             QStringLiteral("0 到 255 的整数（更大的数取除以 256 的余数）"));
}

QString open_failed(int port_number, const OpenFailure& failure, const QStringList& existing)
{
    const QString port = port_name(port_number, failure.device);
    const QString detail = failure.detail.isEmpty() ? QString() : QStringLiteral("\n（%1）").arg(failure.detail);
    switch (failure.reason) {
    case OpenFailure::Reason::no_such_port: {
        const QString list = existing.isEmpty() ? QStringLiteral("本机没有可用的串口。")
                                                : QStringLiteral("现有串口：\n") + existing.join(QLatin1Char('\n'));
        return error(ErrorNumber::no_such_port, QStringLiteral("串口 %1 不存在。\n%2").arg(port_number).arg(list));
    }
    case OpenFailure::Reason::not_a_device:
        return error(ErrorNumber::not_a_device,
                     QStringLiteral("串口 %1 指向的“%2”不是串口设备，未打开。").arg(port_number).arg(failure.device));
    case OpenFailure::Reason::in_use:
        return in_use(port, failure, detail);
    case OpenFailure::Reason::stale_lock:
        return error(ErrorNumber::stale_lock,
                     QStringLiteral("%1被锁文件 %2 锁定，无法打开。\n锁文件中记录的%3已不在运行，"
                                    "但当前用户无权删除这个锁文件。\n删除它后即可打开串口：\nsudo rm %4")
                         .arg(port, failure.lock_file, lock_holder(failure), shell_quoted(failure.lock_file)));
    case OpenFailure::Reason::suspicious_lock:
        return error(ErrorNumber::suspicious_lock,
                     QStringLiteral("%1被锁文件 %2 锁定，无法打开。\n这个锁文件是符号链接或特殊文件，而串口程序留下的"
                                    "锁文件都是普通文件，因此它看起来可疑；本程序没有读取也没有改动它。\n"
                                    "请手工检查它是谁建立的、指向哪里，再决定如何处理。")
                         .arg(port, failure.lock_file));
    case OpenFailure::Reason::no_permission:
        return error(ErrorNumber::no_permission,
                     QStringLiteral("没有打开%1的权限。\n请将用户加入 dialout 组（sudo adduser $USER dialout），"
                                    "然后重新登录。%2")
                         .arg(port, detail));
    case OpenFailure::Reason::other:
        break;
    }
    return error(ErrorNumber::device_error, QStringLiteral("无法打开%1。%2").arg(port, detail));
}

QString connection_lost(int port_number, const PortLoss& loss)
{
    QString reason;
    if (loss.reason == PortLoss::Reason::hung_up) {
        reason = QStringLiteral("%1 已挂断（被拔出或关闭）").arg(loss.device);
    } else {
        static const QString what[] = {
            QString(),
            QStringLiteral("设备已移除"),
            QStringLiteral("读取错误"),
            QStringLiteral("写入错误"),
            QStringLiteral("设备错误"),
        };
        reason = QStringLiteral("%1：%2，%3").arg(loss.device, what[static_cast<int>(loss.reason)], loss.detail);
    }
    return error(ErrorNumber::connection_lost,
                 QStringLiteral("%1的连接已断开（%2），串口已关闭。\n设备恢复后请重新打开串口。")
                     .arg(port_name(port_number, loss.device), reason));
}

QString port_skipped(int port_number, const OpenFailure& failure)
{
    QString why;
    switch (failure.reason) {
    case OpenFailure::Reason::no_such_port:
        why = QStringLiteral("不存在");
        break;
    case OpenFailure::Reason::not_a_device:
        why = QStringLiteral("不是串口设备");
        break;
    case OpenFailure::Reason::in_use:
        why = QStringLiteral("已被占用");
        break;
    case OpenFailure::Reason::stale_lock:
        why = QStringLiteral("被锁文件 %1 锁定").arg(failure.lock_file);
        break;
    case OpenFailure::Reason::suspicious_lock:
        why = QStringLiteral("被可疑的锁文件 %1 锁定").arg(failure.lock_file);
        break;
    case OpenFailure::Reason::no_permission:
        why = QStringLiteral("没有权限");
        break;
    case OpenFailure::Reason::other:
        why = failure.detail.isEmpty() ? QStringLiteral("无法打开")
                                       : QStringLiteral("无法打开（%1）").arg(failure.detail);
        break;
    }
    return QStringLiteral("%1：%2，跳过").arg(port_name(port_number, failure.device), why);
}

QString stray_bytes(int port_number, const QString& device, int count)
{
    return QStringLiteral("%1：收到无法识别的数据：波特率或接线？（%2 字节）")
        .arg(port_name(port_number, device))
        .arg(count);
}

}  // namespace pondara::messages
