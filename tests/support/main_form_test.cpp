#include "main_form_test.h"

#include <QCoreApplication>
#include <QEvent>

namespace pondara::test {

void MainFormTest::cleanup()
{
    m_form.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void MainFormTest::make_main_form(PortLister list_ports, const std::function<void(MainForm&)>& before_show)
{
    m_ports = FakePortFactory();
    m_sink.clear();
    m_form = std::make_unique<MainForm>(m_ports.factory(), m_sink, std::move(list_ports));
    if (before_show)
        before_show(*m_form);
    m_form->show();
}

}  // namespace pondara::test
