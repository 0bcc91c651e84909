#include "protocol/number_conversion.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>

namespace pondara {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim_blanks(std::string_view text)
{
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// True when `text` (already trimmed) is exactly one number of the accepted
// grammar.
bool is_plain_decimal(std::string_view text)
{
    std::size_t i = 0;
    const auto n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < n && is_digit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && is_digit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        std::size_t exponent_digits = 0;
        while (i < n && is_digit(text[i])) {
            ++i;
            ++exponent_digits;
        }
        if (exponent_digits == 0)
            return false;
    }
    return i == n;
}

// strtod in the "C" locale, so the decimal point is '.' whatever locale the
// application set.
double c_strtod(const std::string& text, bool* range_error)
{
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t {});
    errno = 0;
    const double value = strtod_l(text.c_str(), nullptr, c_locale);
    *range_error = errno == ERANGE;
    return value;
}

template <typename Int>
Converted<Int> to_integer(std::string_view text)
{
    const auto number = to_double(text);
    if (!number)
        return number.error();
    // Nearest integer, ties to even (the default rounding mode).
    const double rounded = std::nearbyint(number.value());
    if (rounded < static_cast<double>(std::numeric_limits<Int>::min())
        || rounded > static_cast<double>(std::numeric_limits<Int>::max()))
        return ConversionError::overflow;
    return static_cast<Int>(rounded);
}

}  // namespace

Converted<double> to_double(std::string_view text)
{
    const auto trimmed = trim_blanks(text);
    if (!is_plain_decimal(trimmed))
        return ConversionError::type_mismatch;
    bool range_error = false;
    const double value = c_strtod(std::string(trimmed), &range_error);
    if (range_error && std::isinf(value))
        return ConversionError::overflow;
    // An underflow leaves 0 or a tiny value, which is what the text means.
    return value;
}

Converted<std::int16_t> to_int16(std::string_view text) { return to_integer<std::int16_t>(text); }
Converted<std::int32_t> to_int32(std::string_view text) { return to_integer<std::int32_t>(text); }
Converted<std::uint8_t> to_byte(std::string_view text) { return to_integer<std::uint8_t>(text); }

Converted<std::uint8_t> to_address_byte(std::string_view text)
{
    const auto number = to_int32(text);
    if (!number)
        return number.error();
    const std::int32_t remainder = number.value() % 256;  // sign of the dividend
    if (remainder < 0)
        return ConversionError::overflow;
    return static_cast<std::uint8_t>(remainder);
}

}  // namespace pondara
