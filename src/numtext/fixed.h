#pragma once

#include <cstddef>
#include <string>

/// Longest text FormatFixed5 can produce: "-" + 309 integer digits + "." + 5 decimals.
inline constexpr std::size_t FIXED5_MAX_CHARS = 320;

/// Writes `value` exactly as C's printf("%.5f") does in the "C" locale
/// (point as separator, no grouping, "nan", "-nan", "inf", "-inf", "-0.00000")
/// into `out`, which must hold FIXED5_MAX_CHARS bytes. Returns the length
/// written; no terminating zero is added. Independent of the user's locale.
std::size_t FormatFixed5(double value, char* out);

/// The same as a string.
std::string FormatFixed5(double value);
