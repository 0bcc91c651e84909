#pragma once

#include "fake_port_factory.h"
#include "main_window/main_form.h"
#include "recording_sink.h"

#include <QObject>

#include <functional>
#include <memory>

namespace pondara::test {

// The fixture of the window tests: before each test function a main window
// on fresh fake ports with an emptied recording sink, shown; after it the
// window deleted, with whatever it left for deferred deletion, so that the
// next function starts with no window open. A test class that needs more
// before each function declares an init() of its own that calls
// make_main_form().
class MainFormTest : public QObject {
    Q_OBJECT

protected slots:
    void init() { make_main_form(); }
    void cleanup();

protected:
    // The window lists the machine's ports with `list_ports`; `before_show`
    // sees it before it is shown.
    void make_main_form(PortLister list_ports = {}, const std::function<void(MainForm&)>& before_show = {});

    FakePortFactory m_ports;
    RecordingSink m_sink;
    std::unique_ptr<MainForm> m_form;
};

}  // namespace pondara::test
