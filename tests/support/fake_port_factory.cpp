#include "fake_port_factory.h"

namespace pondara::test {

FakePortFactory::FakePortFactory() : m_record(std::make_shared<Record>()) { }

PortFactory FakePortFactory::factory() const
{
    return [record = m_record]() -> std::unique_ptr<PortObject> {
        auto port = std::make_unique<FakePortObject>();
        if (record->setup)
            record->setup(*port);
        record->ports.emplace_back(port.get());
        return port;
    };
}

void FakePortFactory::set_setup(std::function<void(FakePortObject&)> setup) { m_record->setup = std::move(setup); }

int FakePortFactory::count() const { return static_cast<int>(m_record->ports.size()); }

FakePortObject* FakePortFactory::port(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return m_record->ports[static_cast<std::size_t>(index)].data();
}

FakePortObject* FakePortFactory::last() const { return count() == 0 ? nullptr : port(count() - 1); }

}  // namespace pondara::test
