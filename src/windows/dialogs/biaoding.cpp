#include "dialogs/biaoding.h"

#include "main_window/main_form.h"
#include "main_window/weighing_watch.h"
#include "serial/module_link.h"
#include "ui/link_view.h"
#include "ui/look.h"
#include "ui/message_sink.h"
#include "ui/messages.h"
#include "ui/motion_view.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace pondara {

namespace {

const QString allowed_weights = QStringLiteral("1 到 16777215 的整数");

}  // namespace

Biaoding::Biaoding(MainForm& main_form, MessageSink& messages)
    : QWidget(nullptr, Qt::Window),
      m_main_form(main_form),
      m_messages(messages)
{
    setObjectName(QStringLiteral("biaoding"));
    setWindowTitle(QStringLiteral("Form1"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(look::twips_size(this, 5865, 4950));

    using look::make_box, look::make_button;
    m_label1 = look::make_note(this, "Label1",
                               QStringLiteral("注意：确认后，称重模块将按照新的值进行重新标定,标定不支持小数"
                                              "（如61.5可用615代替，返回结果再重新加上小数点）"),
                               {480, 480, 4935, 1860}, 18);
    m_biaoding_val = make_box(this, "biaoding_val", QStringLiteral("100"), {2835, 3045, 960, 435}, 15.75);
    look::set_text_colour(m_biaoding_val, QColor(255, 0, 0));
    m_label2 = look::make_label(this, "Label2", QStringLiteral("标定值"), m_biaoding_val, {1260, 3045, 1155, 495}, 18);
    m_open_comm = make_button(this, "open_comm", QStringLiteral("确认"), {945, 4095, 1455, 375}, 15.75);
    m_command1 = make_button(this, "Command1", QStringLiteral("取消"), {3255, 4095, 1455, 375}, 15.75);
    // Below the buttons, so that the operator confirms on a settled load.
    m_weight_line = look::make_label(this, "weight_line", QString(), nullptr, {480, 4530, 4935, 375}, 15.75);
    show_weight(main_form.weighing().reading());
    connect(&main_form.weighing(), &WeighingWatch::reading_changed, this, &Biaoding::show_weight);

    setTabOrder(m_open_comm, m_command1);
    setTabOrder(m_command1, m_biaoding_val);
    m_open_comm->setFocus();

    connect(m_open_comm, &QPushButton::clicked, this, &Biaoding::open_comm_Click);
    connect(m_command1, &QPushButton::clicked, this, &Biaoding::Command1_Click);
}

void Biaoding::open_comm_Click()
{
    const QString text = m_biaoding_val->text();
    const QString caption = m_label2->text();
    const auto number = text_to_double(text);
    if (!number) {
        m_messages.post(this, messages::conversion_failed(caption, text, number.error(), allowed_weights));
        return;
    }
    if (number.value() == 0.0) {  // exactly 0: nothing to calibrate
        close();
        return;
    }
    const auto weight = text_to_int32(text);
    if (!weight || weight.value() < 0 || weight.value() > static_cast<std::int32_t>(max_value)) {
        m_messages.post(this, messages::conversion_failed(caption, text, ConversionError::overflow, allowed_weights));
        return;
    }
    if (weight.value() == 0) {
        // Not 0 but rounds to 0: a calibration against no weight would wreck
        // the module's calibration.
        m_messages.post(this, messages::error(messages::ErrorNumber::overflow,
                                              QStringLiteral("“%1”中的%2取整后为 0，不能用于标定。\n允许的值：%3。")
                                                  .arg(caption, messages::quoted(text), allowed_weights)));
        return;
    }
    m_main_form.SET_BUFF(make_command(Leixing::calibrate, static_cast<std::uint32_t>(weight.value())));
    close();
}

void Biaoding::Command1_Click() { close(); }

void Biaoding::show_weight(const MotionReading& reading)
{
    QString text = QStringLiteral("当前重量 %1").arg(weight_text(reading.latest));
    if (reading.motion != Motion::unknown)
        text += QStringLiteral("  ") + motion_text(reading.motion);
    show_status(m_weight_line, text, motion_colour(reading.motion));
}

}  // namespace pondara
