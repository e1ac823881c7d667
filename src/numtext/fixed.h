#pragma once

#include <cstddef>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

/// Longest text FormatFixed5 can produce: "-" + 309 integer digits + "." + 5 decimals.
inline constexpr std::size_t FIXED5_MAX_CHARS = 320;

/// The general path of FormatFixed5: any double, through the standard library.
std::size_t FormatFixed5General(double value, char* out);

namespace fixed5_detail {
__extension__ typedef unsigned __int128 Uint128;

inline constexpr std::uint64_t SCALE = 100000;  // five decimals
inline constexpr int MANTISSA_BITS = 52;
inline constexpr int EXPONENT_BIAS = 1075;      // value = mantissa * 2^(biased - 1075)
// Below 2^47 the scaled value stays below 2^64; beyond 100 fraction bits it
// rounds to zero. Everything outside goes the general way.
inline constexpr int MIN_FAST_SHIFT = 6;
inline constexpr int ZERO_SHIFT = 100;

inline constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";
}  // namespace fixed5_detail

/// Writes `value` exactly as C's printf("%.5f") does in the "C" locale
/// (point as separator, no grouping, "inf", "-inf", "-0.00000"), except that
/// every NaN is "nan", whatever its sign bit,
/// into `out`, which must hold FIXED5_MAX_CHARS bytes. Returns the length
/// written; no terminating zero is added. Independent of the user's locale.
inline std::size_t FormatFixed5(double value, char* out);

/// The same as a string.
std::string FormatFixed5(double value);

/// Widest FormatFixed5 text a value box shows as it is: "-999999.99999".
inline constexpr std::size_t FIXED5_BOX_MAX_CHARS = 13;

/// FormatFixed5, or printf's "%.5e" ("-1.00000e+300") where the fixed text
/// would be wider than FIXED5_BOX_MAX_CHARS, so that a box too narrow for a
/// 300-digit number shows the value's leading digits and its exponent.
std::string FormatFixed5OrExponent(double value);

// printf's "%.5f" without its cost for the values a logger produces: the
// double is scaled by 10^5 in exact integer arithmetic and rounded half to
// even, as glibc does for an exact tie. NaN, infinity and magnitudes of
// 2^47 and more go the general way.
inline std::size_t FormatFixed5(double value, char* out) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const int biased = static_cast<int>((bits >> fixed5_detail::MANTISSA_BITS) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << fixed5_detail::MANTISSA_BITS) - 1);
    int shift = fixed5_detail::EXPONENT_BIAS - 1;  // subnormal
    if (biased != 0) {
        mantissa |= std::uint64_t{1} << fixed5_detail::MANTISSA_BITS;
        shift = fixed5_detail::EXPONENT_BIAS - biased;
    }
    if (shift < fixed5_detail::MIN_FAST_SHIFT) {
        return FormatFixed5General(value, out);
    }
    std::uint64_t scaled = 0;
    if (shift < fixed5_detail::ZERO_SHIFT) {
        const fixed5_detail::Uint128 product = fixed5_detail::Uint128{mantissa} * fixed5_detail::SCALE;
        scaled = static_cast<std::uint64_t>(product >> shift);
        const fixed5_detail::Uint128 remainder = product & ((fixed5_detail::Uint128{1} << shift) - 1);
        const fixed5_detail::Uint128 half = fixed5_detail::Uint128{1} << (shift - 1);
        if (remainder > half || (remainder == half && (scaled & 1) != 0)) {
            ++scaled;
        }
    }

    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    while (scaled >= 100) {
        p -= 2;
        std::memcpy(p, fixed5_detail::DIGIT_PAIRS + 2 * (scaled % 100), 2);
        scaled /= 100;
    }
    if (scaled >= 10) {
        p -= 2;
        std::memcpy(p, fixed5_detail::DIGIT_PAIRS + 2 * scaled, 2);
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
