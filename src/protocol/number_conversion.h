#pragma once

#include <cstdint>
#include <string_view>

namespace pondara {

// Why a typed text did not convert.
enum class ConversionError : std::uint8_t {
    none,
    type_mismatch,  // the text is not a number
    overflow,  // the number does not fit the target
};

// The result of converting a typed text: a value or an error, never an
// exception.
template <typename T>
class Converted {
public:
    constexpr Converted(T value) : m_value(value) { }  // NOLINT: implicit by design
    constexpr Converted(ConversionError error) : m_error(error) { }  // NOLINT

    constexpr bool ok() const { return m_error == ConversionError::none; }
    constexpr explicit operator bool() const { return ok(); }
    constexpr ConversionError error() const { return m_error; }
    constexpr T value() const { return m_value; }

private:
    T m_value {};
    ConversionError m_error = ConversionError::none;
};

// Conversion of the text an operator typed into a box, shared by every box.
//
// A number is: optional ASCII blanks (space or tab), an optional sign '+' or
// '-', decimal digits 0-9 with an optional '.' fraction (at least one digit
// on either side of the point: "5." and ".5" count), an optional exponent
// ('e' or 'E', optional sign, digits), and optional blanks. Nothing else
// counts: no hexadecimal ("0x10", "&H10"), no thousands or comma separators
// ("1,5"), no full-width or other non-ASCII digits, no "inf" or "nan", no
// embedded NUL. The text is UTF-8. The decimal point is always '.', whatever
// the locale.
//
// Integer targets take the nearest integer, ties to the even neighbour
// (1.5 and 2.5 give 2, -0.5 gives 0), then check the range; a number too
// large for a double (1e400) is an overflow, one too small (1e-400) is 0.
Converted<double> to_double(std::string_view text);
Converted<std::int16_t> to_int16(std::string_view text);
Converted<std::int32_t> to_int32(std::string_view text);
Converted<std::uint8_t> to_byte(std::string_view text);

// The module address rule: the text as a signed 32-bit integer, modulo 256
// with the sign of the dividend, as a byte. 257 gives 1 and -256 gives 0;
// -1 leaves -1, which is no byte: overflow.
Converted<std::uint8_t> to_address_byte(std::string_view text);

}  // namespace pondara
