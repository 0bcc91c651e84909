#pragma once

// The same-window baseline: the main window as the least any program showing
// it must build and do, written with Qt alone. The same 13 controls with the
// same names, texts, font, colours, geometry, tab order and focus, the same
// fixed window with its title and icon, a 200 ms timer that alternates the
// read-AD and read-weight requests (emptying the input first, as every write
// must), and a bare QSerialPort whose readyRead slot, for each 8-byte reply
// that passes the reply test, only sets the text of its readout.
// No port object, no receive pump, no message sink, no link health.

#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QSerialPort>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace pondara::bench {

class SameWindow : public QWidget {
public:
    SameWindow()
        : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                               | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    {
        set_up_window();
        build_controls();
        set_up_polling();
    }

    // Shows the window in the centre of the screen, as the program does.
    void show_centred()
    {
        show();
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }

    bool open(const QString& device)
    {
        port.setPortName(device);
        return port.open(QIODevice::ReadWrite);
    }

    // One timer tick: the next measurement query, on an open port.
    void tick()
    {
        if (!port.isOpen())
            return;
        m_last_query = m_last_query == 1 ? 2 : 1;
        const auto address = static_cast<std::uint8_t>(m_add->text().toInt());
        std::uint8_t request[8] = {0x55, address, m_last_query, 0, 0, 0, 0, 0};
        for (int i = 0; i < 7; ++i)
            request[7] = static_cast<std::uint8_t>(request[7] + request[i]);
        port.clear(QSerialPort::Input);
        port.write(reinterpret_cast<const char*>(request), sizeof request);
        port.flush();
    }

    QSerialPort port;
    QTimer timer1;
    QLineEdit* ad_now = nullptr;
    QLineEdit* weight_now = nullptr;

private:
    // Name, title, icon and the fixed size.
    void set_up_window()
    {
        setObjectName(QStringLiteral("main_form"));
        setWindowTitle(QStringLiteral("PondaraV6"));
        QIcon icon;
        for (const int size : {16, 32, 48, 64, 128, 256})
            icon.addFile(QStringLiteral(":/pondara/icons/pondara-%1.png").arg(size));
        setWindowIcon(icon);
        const QScreen* screen = QGuiApplication::primaryScreen();
        m_dpi = screen ? screen->logicalDotsPerInch() : 96.0;
        setFixedSize(px(5820), px(3990));
    }

    // The 13 controls at their places, the readouts' colours, the tab order
    // and the focus.
    void build_controls()
    {
        QFont font;
        font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                          QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
        font.setPointSizeF(15.75);
        font.setWeight(QFont::Normal);

        auto* chuankou_num = box("chuankou_num", QStringLiteral("1"), font, {1680, 120, 495, 375});
        label("Label3", QStringLiteral("串口号"), chuankou_num, font, {120, 120, 1335, 375});
        auto* open_comm = button("open_comm", QStringLiteral("打开串口"), font, {3840, 120, 1455, 375});
        m_add = box("add", QStringLiteral("1"), font, {1680, 870, 600, 375});
        label("Label5", QStringLiteral("模块地址"), m_add, font, {120, 870, 1335, 375});
        ad_now = box("AD_now", QStringLiteral("0"), font, {1680, 1485, 1695, 375});
        label("Label2", QStringLiteral("当前AD值"), ad_now, font, {120, 1485, 1335, 375});
        weight_now = box("weight_now", QStringLiteral("0"), font, {1680, 2205, 1695, 375});
        label("Label1", QStringLiteral("当前重量"), weight_now, font, {120, 2205, 1335, 375});
        auto* clr_command = button("clr_command", QStringLiteral("置零"), font, {240, 3120, 1095, 495});
        auto* biaoding_command = button("biaoding_command", QStringLiteral("标定"), font, {1680, 3120, 1035, 480});
        auto* command1 = button("Command1", QStringLiteral("设置"), font, {3120, 3120, 1035, 480});
        auto* help_command = button("help_command", QStringLiteral("帮助"), font, {4560, 3120, 1095, 495});
        colour_text(ad_now, Qt::blue);
        colour_text(weight_now, Qt::red);

        QWidget* const order[] = {biaoding_command, ad_now,       weight_now, chuankou_num, open_comm,
                                  clr_command,      help_command, m_add,      command1};
        for (std::size_t i = 0; i + 1 < std::size(order); ++i)
            setTabOrder(order[i], order[i + 1]);
        biaoding_command->setFocus();
    }

    // The port at 9600 8N1, and the 200 ms timer.
    void set_up_polling()
    {
        port.setBaudRate(QSerialPort::Baud9600);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        QObject::connect(&port, &QSerialPort::readyRead, this, [this] { take_replies(); });

        timer1.setTimerType(Qt::PreciseTimer);
        timer1.setInterval(200);
        QObject::connect(&timer1, &QTimer::timeout, this, [this] { tick(); });
        timer1.start();
    }

    static void colour_text(QLineEdit* box, Qt::GlobalColor colour)
    {
        QPalette palette = box->palette();
        palette.setColor(QPalette::Text, colour);
        box->setPalette(palette);
    }

    int px(int twips) const { return static_cast<int>(std::lround(twips * m_dpi / 1440.0)); }
    QRect px(const QRect& twips) const { return {px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height())}; }

    QLineEdit* box(const char* name, const QString& text, const QFont& font, const QRect& twips)
    {
        auto* control = new QLineEdit(text, this);
        control->setObjectName(QLatin1String(name));
        control->setFont(font);
        control->setGeometry(px(twips));
        return control;
    }

    // A caption too wide for its place grows to the right, as the program's do.
    void label(const char* name, const QString& text, QWidget* buddy, const QFont& font, const QRect& twips)
    {
        auto* control = new QLabel(text, this);
        control->setObjectName(QLatin1String(name));
        control->setBuddy(buddy);
        control->setFont(font);
        QRect pixels = px(twips);
        pixels.setWidth(std::max(pixels.width(), control->sizeHint().width()));
        control->setGeometry(pixels);
    }

    QPushButton* button(const char* name, const QString& text, const QFont& font, const QRect& twips)
    {
        auto* control = new QPushButton(text, this);
        control->setObjectName(QLatin1String(name));
        control->setAutoDefault(false);
        control->setFont(font);
        control->setGeometry(px(twips));
        return control;
    }

    // Each whole reply that passes the reply test (header 0x22, checksum of
    // bytes 0..6 in byte 7) sets the text of its readout.
    void take_replies()
    {
        while (port.bytesAvailable() >= 8) {
            std::uint8_t reply[8];
            port.read(reinterpret_cast<char*>(reply), sizeof reply);
            std::uint8_t sum = 0;
            for (int i = 0; i < 7; ++i)
                sum = static_cast<std::uint8_t>(sum + reply[i]);
            if (reply[0] != 0x22 || reply[7] != sum)
                continue;
            const auto value = static_cast<std::uint32_t>(reply[4] << 16 | reply[5] << 8 | reply[6]);
            if (reply[2] == 1)
                ad_now->setText(QString::number(value));
            else if (reply[2] == 2)
                weight_now->setText(QString::number(value));
        }
    }

    qreal m_dpi = 96.0;
    QLineEdit* m_add = nullptr;
    std::uint8_t m_last_query = 0;
};

}  // namespace pondara::bench
