#pragma once

#include <QString>

#include <functional>

namespace pondara::test {

// What this process holds and has used, read from /proc/self and getrusage.
struct ProcessFigures {
    int open_fds = 0;         // entries of /proc/self/fd
    long long rss_bytes = 0;  // resident set size, from /proc/self/statm
    long long heap_bytes = 0;  // heap memory allocated and not freed
    double cpu_seconds = 0;   // user and system time so far

    static ProcessFigures now();
    QString describe() const;

    // The memory a growth check compares: the resident set size, or, under
    // AddressSanitizer, whose quarantine keeps freed memory resident on
    // purpose, the heap in use.
    long long checked_bytes() const { return under_asan ? heap_bytes : rss_bytes; }
    static const bool under_asan;
    static const char* const checked_name;  // "RSS" or "heap"
};

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
