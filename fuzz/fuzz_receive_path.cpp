// Arbitrary bytes, in arbitrary chunks, arriving at the main window's port
// and at the parameters dialog's, interleaved with ticks, opening and closing,
// losing the device and queued commands. After every step: rx_buf slots 0..7
// hold bytes and 8..99 stay 0, the readouts show only decimal numbers of at
// most 24 bits, and every packet written is a well-formed request. Reads and
// writes outside the buffers are caught by ASan and by libstdc++'s bounds
// checks on std::array.
//
// The input is a list of steps, one byte each, some followed by data:
//   low 3 bits 0, 1   a tick of the main window
//              2..4   a chunk of (byte >> 3) bytes, 0..31, to the main port
//              5      打开串口/关闭串口
//              6      bit 3 set: the main device is lost; else 置零 queued
//              7      (byte >> 3) == 0: 设置 or the dialog closed;
//                     else a chunk of that many bytes to the dialog's port

#include "fake_port_factory.h"
#include "fake_port_object.h"
#include "main_window/main_form.h"
#include "recording_sink.h"
#include "window_peer.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace pondara;
using pondara::test::FakePortObject;

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_receive_path: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what)
{
    if (!condition)
        fail(what);
}

void check_rx_buf(const RxBuf& rx_buf)
{
    for (std::size_t i = 0; i < rx_buf.size(); ++i) {
        if (i < 8)
            check(rx_buf[i] >= 0 && rx_buf[i] <= 255, "rx_buf[0..7] hold bytes");
        else
            check(rx_buf[i] == 0, "rx_buf[8..99] stay 0");
    }
}

// A decimal number of at most `max`, or (when allowed) an empty box.
void check_readout(const QLineEdit* box, std::uint32_t max, bool may_be_empty, const char* what)
{
    check(box != nullptr, what);
    const QString text = box->text();
    if (text.isEmpty()) {
        check(may_be_empty, what);
        return;
    }
    check(text.size() <= 8, what);
    for (QChar c : text)
        check(c >= QLatin1Char('0') && c <= QLatin1Char('9'), what);
    check(text.toUInt() <= max, what);
}

// Header 0x55, address 1 (the box's text), a known type, the checksum.
void check_written(const QList<Packet>& written, bool dialog)
{
    for (const Packet& p : written) {
        unsigned sum = 0;
        for (std::size_t i = 0; i < 7; ++i)
            sum += p[i];
        check(p[0] == 0x55 && p[1] == 1 && p[7] == (sum & 0xFF), "a well-formed request");
        check(dialog ? (p[2] >= 5 && p[2] <= 8) : (p[2] >= 1 && p[2] <= 3), "a request of the window's types");
    }
}

void ignore_messages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(ignore_messages);  // the offscreen platform's warnings
    static int argc = 1;
    static char name[] = "fuzz_receive_path";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives as long as the process
    // Fonts and platform windows are set up once, on first use, and kept:
    // do it here, so that the leak check of the first inputs does not take
    // them for leaks.
    test::FakePortFactory ports;
    test::RecordingSink sink;
    {
        MainForm form(ports.factory(), sink);
        form.show();
        form.findChild<QPushButton*>("Command1")->click();
        form.findChild<QPushButton*>("biaoding_command")->click();
        form.findChild<QPushButton*>("help_command")->click();
        QCoreApplication::processEvents();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    test::FakePortFactory ports;
    test::RecordingSink sink;
    {
        MainForm form(ports.factory(), sink);
        FakePortObject* main_port = ports.port(0);
        form.open_comm_Click();
        const auto chunk = [&](std::size_t& at, std::size_t length) {
            const std::size_t n = std::min(length, size - at);
            const QByteArray bytes(reinterpret_cast<const char*>(data + at), static_cast<qsizetype>(n));
            at += n;
            return bytes;
        };

        for (std::size_t at = 0; at < size;) {
            const std::uint8_t step = data[at++];
            const std::size_t length = step >> 3;
            switch (step & 7) {
            case 0:
            case 1:
                form.poll_tick();
                break;
            case 2:
            case 3:
            case 4:
                main_port->receive(chunk(at, length));
                break;
            case 5:
                form.open_comm_Click();
                break;
            case 6:
                if (step & 8)
                    main_port->lose();
                else
                    form.findChild<QPushButton*>("clr_command")->click();
                break;
            case 7:
                if (length == 0) {
                    if (Canshu* dialog = test::open_window<Canshu>("canshu")) {
                        dialog->close();
                        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                    } else {
                        form.findChild<QPushButton*>("Command1")->click();
                    }
                } else if (test::open_window("canshu")) {
                    ports.last()->receive(chunk(at, length));  // the dialog's port
                }
                break;
            }

            check_rx_buf(test::WindowPeer::rx_buf(form));
            check_readout(form.findChild<QLineEdit*>("AD_now"), 0xFFFFFF, false, "AD_now shows a number");
            check_readout(form.findChild<QLineEdit*>("weight_now"), 0xFFFFFF, false, "weight_now shows a number");
            check_written(main_port->written(), false);
            if (const Canshu* dialog = test::open_window<Canshu>("canshu")) {
                check_rx_buf(test::WindowPeer::rx_buf(*dialog));
                check_readout(dialog->findChild<QLineEdit*>("zhouqi"), 255, true, "zhouqi shows a byte");
                check_readout(dialog->findChild<QLineEdit*>("kuandu"), 255, true, "kuandu shows a byte");
                check_written(ports.last()->written(), true);
            }
            for (const auto& message : sink.messages())
                check(!message.text.isEmpty(), "no empty message");
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
