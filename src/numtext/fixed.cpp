#include "numtext/fixed.h"

#include <charconv>
#include <cmath>
#include <cstring>

std::size_t FormatFixed5General(double value, char* out) {
    if (std::isnan(value)) {
        // printf and to_chars show a NaN's sign bit, which means nothing:
        // every NaN is "nan".
        std::memcpy(out, "nan", 3);
        return 3;
    }
    // to_chars with an explicit precision is specified to match printf's %.*f in the
    // C locale, digit for digit, and it never consults the global locale.
    const auto result = std::to_chars(out, out + FIXED5_MAX_CHARS, value, std::chars_format::fixed, 5);
    return static_cast<std::size_t>(result.ptr - out);
}

std::string FormatFixed5(double value) {
    char buffer[FIXED5_MAX_CHARS];
    return std::string(buffer, FormatFixed5(value, buffer));
}

std::string FormatFixed5OrExponent(double value) {
    std::string fixed = FormatFixed5(value);
    if (fixed.size() <= FIXED5_BOX_MAX_CHARS) {
        return fixed;
    }
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 5);
    return std::string(text, written.ptr);
}
