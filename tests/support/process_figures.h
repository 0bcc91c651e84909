#pragma once

#include <QString>

namespace pondara::test {

// What this process holds and has used, read from /proc/self and getrusage.
struct ProcessFigures {
    int open_fds = 0;  // entries of /proc/self/fd
    long long rss_bytes = 0;  // resident set size, from /proc/self/statm
    long long heap_bytes = 0;  // heap memory allocated and not freed
    double cpu_seconds = 0;  // user and system time so far

    static ProcessFigures now();
    QString describe() const;

    // The memory a growth check compares: the resident set size, or, under
    // AddressSanitizer, whose quarantine keeps freed memory resident on
    // purpose, the heap in use.
    long long checked_bytes() const { return under_asan ? heap_bytes : rss_bytes; }
    static const bool under_asan;
    static const char* const checked_name;  // "RSS" or "heap"
};

}  // namespace pondara::test
