// The program's message boxes: opened after the posting handler returns,
// OK only, no icon, the program's title, and not blocking the event loop.

#include "ui/box_message_sink.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using pondara::BoxMessageSink;

namespace {

QList<QMessageBox*> open_boxes()
{
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            boxes.append(box);
    }
    return boxes;
}

}  // namespace

class TestBoxMessageSink : public QObject {
    Q_OBJECT

private slots:
    void box_opens_after_the_handler();
    void events_go_on_while_open();
    void box_goes_with_its_window();
};

void TestBoxMessageSink::box_opens_after_the_handler()
{
    BoxMessageSink sink;
    QWidget window;
    window.show();
    sink.post(&window, QStringLiteral("零点设置成功"));
    QVERIFY(open_boxes().isEmpty());  // not inside the handler that posted it
    QTRY_COMPARE(open_boxes().size(), 1);
    QMessageBox* box = open_boxes().first();
    QCOMPARE(box->text(), QStringLiteral("零点设置成功"));
    QCOMPARE(box->windowTitle(), QStringLiteral("PondaraV6"));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box->isModal());
    QPointer<QMessageBox> guard(box);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(!guard);  // destroyed once closed
}

void TestBoxMessageSink::events_go_on_while_open()
{
    BoxMessageSink sink;
    QWidget window;
    window.show();
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(20);
    sink.post(&window, QStringLiteral("标定成功"));
    QTRY_COMPARE(open_boxes().size(), 1);
    const int before = ticks;
    QTRY_VERIFY(ticks >= before + 5);  // the timer keeps firing with the box open
    QCOMPARE(open_boxes().size(), 1);
    sink.post(&window, QStringLiteral("second"));
    QTRY_COMPARE(open_boxes().size(), 2);
    for (QMessageBox* box : open_boxes())
        box->close();
}

void TestBoxMessageSink::box_goes_with_its_window()
{
    BoxMessageSink sink;
    auto* window = new QWidget;
    window->show();
    sink.post(window, QStringLiteral("gone before shown"));
    delete window;
    QTest::qWait(50);
    QVERIFY(open_boxes().isEmpty());

    window = new QWidget;
    window->show();
    sink.post(window, QStringLiteral("gone with the window"));
    QTRY_COMPARE(open_boxes().size(), 1);
    delete window;
    QVERIFY(open_boxes().isEmpty());
}

QTEST_MAIN(TestBoxMessageSink)
#include "tst_box_message_sink.moc"
