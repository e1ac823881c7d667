#pragma once

#include <cstdint>
#include <string>

/// Unit index of FormatScaled meaning "no unit": nothing is written.
inline constexpr std::uint32_t UNIT_NONE = 0xFFFFFFFF;

/// Parses a Sampling Count text: one or more decimal digits, nothing else
/// (leading zeros allowed). True for values below 4294967295; that value and
/// anything larger are rejected. A false result leaves `value` unusable.
bool ParseUnsigned(std::string text, std::uint32_t& value);

/// Parses a Threshold text: optional leading "-", digits with at most one "."
/// between them (a lone leading or trailing "." is completed with "0"), then
/// optionally "E" or "D" in either case, an optional "-" and digits. No "+",
/// blanks or separators. False when the value overflows to infinity; an
/// underflow gives 0 or a denormal and is accepted. Independent of the locale.
bool ParseReal(std::string text, double& value);

/// Writes `value` divided by 1000^unit (unit 0..3) as exact decimal text,
/// without trailing fraction zeros or a trailing point, e.g. (1500000, 2) -> "1.5".
/// UNIT_NONE: empty text, false. Any other unit: the digits without sign, false.
bool FormatScaled(std::int64_t value, std::string& text, std::uint32_t unit);

/// Completes a lone decimal point: ".5" -> "0.5", "5." -> "5.0", "-.5" -> "-0.5",
/// "." -> "0.0", "-." -> "-0.0". Other texts are left alone.
void NormalizeNumberText(std::string& text);

/// True when `text` is digits with an optional leading "-" (allowMinus) and at
/// most one "." between digits (allowDot), with at least one digit.
bool IsNumberText(const std::string& text, bool allowMinus, bool allowDot);

/// True when every byte is "0".."9", "-" (allowMinus) or "." (allowDot). An
/// empty text passes.
bool HasOnlyNumberChars(const std::string& text, bool allowMinus, bool allowDot);

/// Number of occurrences of `ch` in `text`.
std::int32_t CountChar(const std::string& text, char ch);

/// Position of the first `ch`; false and -1 when there is none.
bool FindChar(const std::string& text, char ch, std::int32_t& position);

/// Number of characters after the last `ch`; false and -1 when there is none.
bool CountAfterLast(const std::string& text, char ch, std::int32_t& count);

/// Base-10 conversion of the leading digits of `text` with 32-bit saturation:
/// a value above 4294967295 gives 4294967295 and false. Conversion stops at
/// the first non-digit; callers validate the syntax first.
bool TextToUnsigned(const std::string& text, std::uint32_t& value);

/// Decimal floating-point conversion in which "E", "e", "D" and "d" introduce
/// the exponent. True when the whole text is used and the result is finite;
/// an underflow gives 0 or a denormal and is accepted. Independent of the locale.
bool TextToReal(const std::string& text, double& value);

/// Signed decimal text of `value` ("-" for negatives). Always true.
bool Int64ToText(std::int64_t value, std::string& text);
