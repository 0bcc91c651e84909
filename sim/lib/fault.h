#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace pondara::sim {

// Ways the simulated line can spoil a reply. Each mirrors a case the host
// must cope with when it reads a reply. Each has a row in fault_table, in
// this order.
enum class Fault : std::uint8_t {
    none,
    split,
    twelve,
    stray,
    truncated,
    late,
    header,
    checksum,
    noreply,
    noise,
    unplug,
    fakezero,
};

// What each fault does, for the command line, the console, the help and
// the tests that check what the host makes of the line.
struct FaultRow {
    Fault fault;
    const char* name;
    const char* description;
    // The first 8 bytes the line carries for the request are the reply
    // itself (extra bytes may follow), so the host must show its value.
    bool leaves_reply_intact;
    // It shapes one reply and leaves the line up: a random fault rate picks
    // among these.
    bool shapes_one_reply;
};

inline constexpr std::array<FaultRow, 12> fault_table {{
    {Fault::none, "none", "a correct reply", true, false},
    {Fault::split, "split", "5 bytes, 20 ms, 3 bytes", true, true},
    {Fault::twelve, "twelve", "4 bytes too many", true, true},
    {Fault::stray, "stray", "a byte ahead", false, true},
    {Fault::truncated, "truncated", "5 bytes only", false, true},
    {Fault::late, "late", "3 bytes now, 5 ahead of the next reply", false, true},
    {Fault::header, "header", "wrong header, checksum made to match", false, true},
    {Fault::checksum, "checksum", "off by one", false, true},
    {Fault::noreply, "noreply", "nothing at all", false, true},
    {Fault::noise, "noise", "random bytes 50 ms after the reply", true, true},
    {Fault::unplug, "unplug", "pull the cable instead of replying", false, false},
    {Fault::fakezero, "fakezero", "acknowledge a zero without taking it: the weight stays", true, false},
}};

namespace detail {
constexpr bool rows_follow_the_enum()
{
    for (std::size_t i = 0; i < fault_table.size(); ++i)
        if (static_cast<std::size_t>(fault_table[i].fault) != i)
            return false;
    return fault_table.back().fault == Fault::fakezero;
}

constexpr std::size_t count_reply_faults()
{
    std::size_t count = 0;
    for (const FaultRow& row : fault_table)
        count += row.shapes_one_reply ? 1 : 0;
    return count;
}
}  // namespace detail

static_assert(detail::rows_follow_the_enum(), "fault_table has one row per Fault, in the enum's order");

constexpr const FaultRow& fault_row(Fault fault) { return fault_table[static_cast<std::size_t>(fault)]; }

// The faults a random fault rate picks from, in the table's order.
inline constexpr auto reply_faults = [] {
    std::array<Fault, detail::count_reply_faults()> faults {};
    std::size_t next = 0;
    for (const FaultRow& row : fault_table)
        if (row.shapes_one_reply)
            faults[next++] = row.fault;
    return faults;
}();

QString fault_name(Fault fault);
std::optional<Fault> fault_from_name(const QString& name);
// Every name, "none" first.
QStringList fault_names();

}  // namespace pondara::sim
