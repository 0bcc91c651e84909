#pragma once

#include <functional>

namespace pondara::test {

// Runs the event loop until `done` holds or `timeout_ms` passes; true if it
// held. Unlike QTest::qWaitFor it sleeps only until the next event, so an
// exchange on a pseudo-terminal takes microseconds rather than 10 ms.
bool run_until(const std::function<bool()>& done, int timeout_ms);

// Runs the event loop for `ms` milliseconds.
void run_for(int ms);

// Runs the event loop for `ms` milliseconds and counts the socket notifier
// activations delivered meanwhile. A descriptor left readable or hung up
// without being serviced shows as thousands of them, however busy the
// machine is, where CPU time would depend on the load.
int socket_activations_during(int ms);

}  // namespace pondara::test
