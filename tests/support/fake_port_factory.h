#pragma once

#include "fake_port_object.h"

#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

namespace pondara::test {

// Hands a window fake ports through a PortFactory and keeps non-owning
// pointers to them, so a test can reach the port a window made. Copies share
// the same record, so the factory may outlive this object.
class FakePortFactory {
public:
    FakePortFactory();

    PortFactory factory() const;

    // Called on each new fake before it is handed out.
    void set_setup(std::function<void(FakePortObject&)> setup);

    int count() const;
    // The index-th fake made (0 first), or null when it was destroyed.
    FakePortObject* port(int index) const;
    FakePortObject* last() const;

private:
    struct Record {
        std::vector<QPointer<FakePortObject>> ports;
        std::function<void(FakePortObject&)> setup;
    };
    std::shared_ptr<Record> m_record;
};

}  // namespace pondara::test
