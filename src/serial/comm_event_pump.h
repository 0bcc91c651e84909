#pragma once

#include <cstdint>
#include <functional>

namespace pondara {

class PortObject;

// Raises a port's OnComm while it is open and at least RThreshold bytes wait
// where the handler can read them: once, and again each time the handler
// returns with that many still there. Qt emits readyRead only once for bytes
// that arrive while a handler runs a nested event loop, so a single
// notification per arrival is not enough. The rounds stop when a handler took no byte (it would otherwise be
// called forever), when the port closed, and when the port was destroyed.
class CommEventPump {
public:
    // The handler read or discarded bytes: another round may follow.
    void took_bytes() { m_took = true; }

    // Runs the rounds while `readable` (the bytes Input can return now) is
    // at least `threshold`. A call made while a handler of the same port is
    // still running (from its nested event loop) returns at once: the outer
    // run looks at the waiting bytes again when that handler returns.
    void run(PortObject& port, std::int16_t threshold, const std::function<int()>& readable);

private:
    bool m_running = false;
    bool m_took = false;
};

}  // namespace pondara
