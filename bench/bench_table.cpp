#include "bench_table.h"

#include "bench_stats.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pondara::bench {

namespace {

QString number(double value, int decimals)
{
    return std::isnan(value) ? QStringLiteral("-") : QString::number(value, 'f', decimals);
}

QString ratio(double value, double base)
{
    if (std::isnan(value) || std::isnan(base) || base == 0.0)
        return QStringLiteral("-");
    return QString::number(value / base, 'f', 2) + QLatin1Char('x');
}

QString range(const Spread& spread, int decimals)
{
    if (std::isnan(spread.min))
        return QStringLiteral("-");
    return number(spread.min, decimals) + QStringLiteral("..") + number(spread.max, decimals);
}

}  // namespace

Spread spread_of(const std::vector<double>& samples, double value)
{
    if (samples.empty())
        return {};
    const auto [min, max] = std::minmax_element(samples.begin(), samples.end());
    return {value, *min, *max};
}

Spread median_of(const std::vector<double>& samples) { return spread_of(samples, median(samples)); }

void print_table(const std::vector<Row>& rows)
{
    // The first column is as wide as the longest figure's name.
    int width = 32;
    for (const Row& row : rows)
        width = std::max(width, static_cast<int>(row.figure.size()));
    const char* const format = "%-*s %17s %17s %7s %17s %7s  %-18s %-24s %s\n";
    std::printf("\n");
    std::printf(format, width, "Figure", "Program", "Same window", "Ratio", "Minimal", "Ratio", "Minimal is", "Target",
                "Verdict");
    std::printf("%s\n", QByteArray(124 + width, '-').constData());
    for (const Row& row : rows) {
        const char* const verdict = std::isnan(row.program.value) ? "not measured" : row.ok ? "met" : "MISSED";
        std::printf(format, width, qPrintable(row.figure), qPrintable(number(row.program.value, row.decimals)),
                    qPrintable(number(row.same.value, row.decimals)),
                    qPrintable(ratio(row.program.value, row.same.value)),
                    qPrintable(number(row.minimal.value, row.decimals)),
                    qPrintable(ratio(row.program.value, row.minimal.value)), qPrintable(row.minimal_name),
                    qPrintable(row.target), verdict);
        if (row.timed) {
            std::printf(format, width, "    spread (min..max)", qPrintable(range(row.program, row.decimals)),
                        qPrintable(range(row.same, row.decimals)), "", qPrintable(range(row.minimal, row.decimals)), "",
                        "", "", "");
        }
    }
}

}  // namespace pondara::bench
