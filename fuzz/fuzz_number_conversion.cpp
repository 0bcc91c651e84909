// Any bytes as a typed text through every conversion. Besides not crashing,
// the results must agree with each other and with rules checked here in a
// different way: the grammar by a regular expression, the value by strtod,
// the rounding by comparing with both integer neighbours.

#include "protocol/number_conversion.h"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <regex>
#include <string>
#include <string_view>

using namespace pondara;

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_number_conversion: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what)
{
    if (!condition)
        fail(what);
}

// Blanks around, a sign, digits with a fraction, an exponent.
const std::regex& grammar()
{
    static const std::regex pattern(R"(^[ \t]*[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?[ \t]*$)",
                                    std::regex::ECMAScript | std::regex::optimize);
    return pattern;
}

// The nearest integer to `v`, ties to the even one, found from the two
// neighbours.
double nearest(double v)
{
    const double below = std::floor(v);
    const double above = below + 1.0;
    const double to_below = v - below;
    const double to_above = above - v;
    if (to_below < to_above)
        return below;
    if (to_above < to_below)
        return above;
    return std::fmod(below, 2.0) == 0.0 ? below : above;
}

template <typename Int>
void check_integer(const Converted<double>& number, const Converted<Int>& result, const char* name)
{
    if (!number.ok()) {
        check(result.error() == number.error(), name);
        return;
    }
    const double n = nearest(number.value());
    const bool fits = n >= static_cast<double>(std::numeric_limits<Int>::min())
                      && n <= static_cast<double>(std::numeric_limits<Int>::max());
    if (!fits) {
        check(result.error() == ConversionError::overflow, name);
        return;
    }
    check(result.ok(), name);
    check(static_cast<double>(result.value()) == n, name);
    check(std::fabs(static_cast<double>(result.value()) - number.value()) <= 0.5, name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto number = to_double(text);
    const auto int16 = to_int16(text);
    const auto int32 = to_int32(text);
    const auto byte = to_byte(text);
    const auto address = to_address_byte(text);

    // The grammar, checked independently on texts short enough for
    // std::regex's recursion.
    if (size <= 256) {
        const std::string copy(text);
        const bool matches = std::regex_match(copy, grammar());
        check(matches == (number.error() != ConversionError::type_mismatch), "grammar");
    }

    if (number.ok()) {
        check(std::isfinite(number.value()), "accepted value is finite");
        // strtod reads the same value from the trimmed text.
        std::size_t first = text.find_first_not_of(" \t");
        std::size_t last = text.find_last_not_of(" \t");
        const std::string trimmed(text.substr(first, last - first + 1));
        char* end = nullptr;
        const double read = std::strtod(trimmed.c_str(), &end);
        check(end == trimmed.c_str() + trimmed.size(), "strtod reads the whole text");
        check(read == number.value(), "strtod reads the same value");
    } else if (number.error() == ConversionError::overflow) {
        const std::string copy(text);
        check(std::isinf(std::strtod(copy.c_str(), nullptr)), "overflow only for values beyond a double");
    }

    check_integer(number, int16, "int16");
    check_integer(number, int32, "int32");
    check_integer(number, byte, "byte");
    if (byte.ok())
        check(int16.ok() && int16.value() == byte.value(), "a byte is an int16");
    if (int16.ok())
        check(int32.ok() && int32.value() == int16.value(), "an int16 is an int32");

    // The address: the int32 modulo 256 with the sign of the dividend.
    if (!int32.ok()) {
        check(address.error() == int32.error(), "address error follows int32");
    } else {
        const std::int64_t remainder = static_cast<std::int64_t>(int32.value()) % 256;
        if (remainder < 0)
            check(address.error() == ConversionError::overflow, "negative remainder is an overflow");
        else
            check(address.ok() && address.value() == remainder, "address is the remainder");
    }

    // Blanks around change nothing.
    const std::string padded = " \t" + std::string(text) + "\t ";
    const auto padded_number = to_double(padded);
    check(padded_number.error() == number.error(), "blanks around: same error");
    if (number.ok())
        check(padded_number.value() == number.value(), "blanks around: same value");
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // strtod above must read '.' as the point, as the code under test does.
    std::setlocale(LC_ALL, "C");
    return 0;
}
