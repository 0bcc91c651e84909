#include "ui/box_message_sink.h"

#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace pondara {

void BoxMessageSink::post(QWidget* origin, const QString& text)
{
    QPointer<QWidget> owner(origin);
    QTimer::singleShot(0, [owner, text, had_owner = origin != nullptr] {
        if (had_owner && !owner)
            return;  // the window went away before the box could open
        auto* box
            = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("PondaraV6"), text, QMessageBox::Ok, owner.data());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    });
}

}  // namespace pondara
