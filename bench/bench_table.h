#pragma once

// The benchmark's figures and the table they are printed in.

#include <QString>

#include <limits>
#include <vector>

namespace pondara::bench {

inline constexpr double not_measured = std::numeric_limits<double>::quiet_NaN();

// A figure measured several times: the one reported and the spread.
struct Spread {
    double value = not_measured;
    double min = not_measured;
    double max = not_measured;
};

Spread spread_of(const std::vector<double>& samples, double value);
Spread median_of(const std::vector<double>& samples);

// One row of the table: a figure of the program, the same window and the
// minimal baseline, and whether the program met its target.
struct Row {
    QString figure;
    Spread program;
    Spread same;
    Spread minimal;
    QString minimal_name;
    QString target;
    bool ok;
    int decimals;
    bool timed;  // a timed figure: its spread gets a line of its own
};

// The program against the same window (the targets' baseline) and against
// the minimal baseline of the figure; under each timed figure, the spread of
// its samples (min..max).
void print_table(const std::vector<Row>& rows);

}  // namespace pondara::bench
