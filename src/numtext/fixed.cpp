#include "numtext/fixed.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstring>

namespace {

std::size_t FormatGenerally(double value, char* out) {
    if (std::isnan(value)) {
        // printf shows the sign bit of a NaN; to_chars would too, but spell it out.
        const char* text = std::signbit(value) ? "-nan" : "nan";
        const std::size_t n = std::strlen(text);
        std::memcpy(out, text, n);
        return n;
    }
    // to_chars with an explicit precision is specified to match printf's %.*f in the
    // C locale, digit for digit, and it never consults the global locale.
    const auto result = std::to_chars(out, out + FIXED5_MAX_CHARS, value, std::chars_format::fixed, 5);
    return static_cast<std::size_t>(result.ptr - out);
}

__extension__ typedef unsigned __int128 Uint128;

constexpr std::uint64_t SCALE = 100000;  // five decimals
constexpr int MANTISSA_BITS = 52;
constexpr int EXPONENT_BIAS = 1075;      // value = mantissa * 2^(biased - 1075)
// Below 2^47 the scaled value stays below 2^64; beyond 100 fraction bits it
// rounds to zero. Everything outside goes the general way.
constexpr int MIN_FAST_SHIFT = 6;
constexpr int ZERO_SHIFT = 100;

constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

}  // namespace

// printf's "%.5f" without its cost for the values a logger produces: the
// double is scaled by 10^5 in exact integer arithmetic and rounded half to
// even, as glibc does for an exact tie. NaN, infinity and magnitudes of
// 2^47 and more go the general way.
std::size_t FormatFixed5(double value, char* out) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const int biased = static_cast<int>((bits >> MANTISSA_BITS) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << MANTISSA_BITS) - 1);
    int shift = EXPONENT_BIAS - 1;  // subnormal
    if (biased != 0) {
        mantissa |= std::uint64_t{1} << MANTISSA_BITS;
        shift = EXPONENT_BIAS - biased;
    }
    if (shift < MIN_FAST_SHIFT) {
        return FormatGenerally(value, out);
    }
    std::uint64_t scaled = 0;
    if (shift < ZERO_SHIFT) {
        const Uint128 product = Uint128{mantissa} * SCALE;
        scaled = static_cast<std::uint64_t>(product >> shift);
        const Uint128 remainder = product & ((Uint128{1} << shift) - 1);
        const Uint128 half = Uint128{1} << (shift - 1);
        if (remainder > half || (remainder == half && (scaled & 1) != 0)) {
            ++scaled;
        }
    }

    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    while (scaled >= 100) {
        p -= 2;
        std::memcpy(p, DIGIT_PAIRS + 2 * (scaled % 100), 2);
        scaled /= 100;
    }
    if (scaled >= 10) {
        p -= 2;
        std::memcpy(p, DIGIT_PAIRS + 2 * scaled, 2);
    } else {
        *--p = static_cast<char>('0' + scaled);
    }
    while (end - p < 6) {  // at least one integer digit before the point
        *--p = '0';
    }

    char* q = out;
    if ((bits >> 63) != 0) {
        *q++ = '-';
    }
    const std::size_t integerDigits = static_cast<std::size_t>(end - p) - 5;
    std::memcpy(q, p, integerDigits);
    q += integerDigits;
    *q++ = '.';
    std::memcpy(q, p + integerDigits, 5);
    q += 5;
    return static_cast<std::size_t>(q - out);
}

std::string FormatFixed5(double value) {
    char buffer[FIXED5_MAX_CHARS];
    return std::string(buffer, FormatFixed5(value, buffer));
}
