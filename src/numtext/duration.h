#pragma once

#include <cstdint>
#include <string>

// Whole numbers, durations and times as the user types and reads them; the
// command line and the window share these rules. Each Parse function returns
// an empty text on success, or why the text is refused.

/// Decimal digits only (no sign, blank, separator, exponent or hexadecimal),
/// from `min` to `max`.
std::string ParseWhole(const std::string& text, std::uint64_t min, std::uint64_t max, std::uint64_t& value);

/// Longest duration accepted, in seconds: its sample count fits at every clock.
inline constexpr std::uint64_t MAX_DURATION_SECONDS = 1844674407370954;

/// Whole numbers each followed by a unit, d, h, m and s, largest first and
/// each at most once ("8h", "1h30m"), or a bare number of seconds.
std::string ParseDuration(const std::string& text, std::uint64_t& seconds);

/// "m:ss", or "h:mm:ss" from one hour on.
std::string ElapsedText(std::int64_t seconds);

/// ISO 8601 in UTC to the microsecond, "2026-12-08T04:30:00.250000Z", of a
/// time in microseconds since 1970-01-01T00:00:00Z; "" for a time outside
/// the years 1 to 9999.
std::string UtcText(std::int64_t micros);
