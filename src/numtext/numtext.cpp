#include "numtext/numtext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace {

constexpr std::uint32_t UNSIGNED_OVERFLOW = 0xFFFFFFFF;

bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

// ASCII only: the outcome must not follow the user's locale.
void ToUpperAscii(std::string& text) {
    for (char& ch : text) {
        if (ch >= 'a' && ch <= 'z') {
            ch = static_cast<char>(ch - 'a' + 'A');
        }
    }
}

// from_chars reports underflow and overflow alike as out of range. Tells them
// apart by the decimal exponent of the leading significant digit, which is
// far from zero in both cases. `text` is what from_chars consumed.
bool IsOverflowMagnitude(std::string_view text) {
    std::size_t i = (!text.empty() && text[0] == '-') ? 1 : 0;
    std::int64_t leadExponent = 0;
    bool significant = false;
    std::int64_t integerDigits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        if (significant || text[i] != '0') {
            significant = true;
            ++integerDigits;
        }
    }
    if (significant) {
        leadExponent = integerDigits - 1;
    } else if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] == '0'; ++i) {
            --leadExponent;
        }
        --leadExponent;
    }
    while (i < text.size() && text[i] != 'E' && text[i] != 'e') {
        ++i;
    }
    if (i < text.size()) {
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
            negative = text[i] == '-';
            ++i;
        }
        // Saturate: out-of-range values are hundreds of decades from zero anyway.
        std::int64_t exponent = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            exponent = std::min<std::int64_t>(exponent * 10 + (text[i] - '0'), 1'000'000'000'000);
        }
        leadExponent += negative ? -exponent : exponent;
    }
    return leadExponent >= 0;
}

// Splits at the exponent letter at `at`, completes and checks both halves and joins them again.
bool CheckExponentForm(std::string& text, std::size_t at) {
    std::string mantissa = text.substr(0, at);
    const std::string exponent = text.substr(at + 1);
    NormalizeNumberText(mantissa);
    if (!IsNumberText(mantissa, true, true) || !IsNumberText(exponent, true, false)) {
        return false;
    }
    text = mantissa + text[at] + exponent;
    return true;
}

}  // namespace

void NormalizeNumberText(std::string& text) {
    if (text.empty()) {
        return;
    }
    if (text.back() == '.') {
        text.push_back('0');
    }
    if (text.front() == '.') {
        text.insert(text.begin(), '0');
    } else if (text.compare(0, 2, "-.") == 0) {
        text.insert(1, 1, '0');
    }
}

bool HasOnlyNumberChars(const std::string& text, bool allowMinus, bool allowDot) {
    return std::all_of(text.begin(), text.end(), [&](char ch) {
        return IsDigit(ch) || (allowMinus && ch == '-') || (allowDot && ch == '.');
    });
}

std::int32_t CountChar(const std::string& text, char ch) {
    return static_cast<std::int32_t>(std::count(text.begin(), text.end(), ch));
}

bool FindChar(const std::string& text, char ch, std::int32_t& position) {
    const std::size_t at = text.find(ch);
    position = at == std::string::npos ? -1 : static_cast<std::int32_t>(at);
    return at != std::string::npos;
}

bool CountAfterLast(const std::string& text, char ch, std::int32_t& count) {
    const std::size_t at = text.rfind(ch);
    count = at == std::string::npos ? -1 : static_cast<std::int32_t>(text.size() - at - 1);
    return at != std::string::npos;
}

bool IsNumberText(const std::string& text, bool allowMinus, bool allowDot) {
    if (text.empty() || !HasOnlyNumberChars(text, allowMinus, allowDot)) {
        return false;
    }
    const std::int32_t minus = CountChar(text, '-');
    const std::int32_t dots = CountChar(text, '.');
    std::int32_t position = -1;
    if (allowMinus && minus > 0) {
        if (minus > 1 || !FindChar(text, '-', position) || position != 0) {
            return false;
        }
    }
    if (allowDot && dots > 0) {
        FindChar(text, '.', position);
        if (dots > 1 || position == 0 || (minus > 0 && position == 1) ||
            text.back() == '.') {
            return false;
        }
    }
    return text.size() > static_cast<std::size_t>(minus) + static_cast<std::size_t>(dots);
}

bool TextToUnsigned(const std::string& text, std::uint32_t& value) {
    // Accumulate in 64 bits and saturate, as a 32-bit strtoul does.
    std::uint64_t accumulated = 0;
    for (char ch : text) {
        if (!IsDigit(ch)) {
            break;
        }
        accumulated = accumulated * 10 + static_cast<std::uint64_t>(ch - '0');
        if (accumulated > UNSIGNED_OVERFLOW) {
            value = UNSIGNED_OVERFLOW;
            return false;
        }
    }
    value = static_cast<std::uint32_t>(accumulated);
    return true;
}

bool TextToReal(const std::string& text, double& value) {
    std::string converted = text;
    std::replace(converted.begin(), converted.end(), 'D', 'E');
    std::replace(converted.begin(), converted.end(), 'd', 'e');
    const char* first = converted.data();
    const char* last = first + converted.size();
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ptr != last || converted.empty()) {
        return false;
    }
    if (result.ec == std::errc::result_out_of_range) {
        const std::string_view consumed(first, converted.size());
        if (IsOverflowMagnitude(consumed)) {
            value = converted[0] == '-' ? -HUGE_VAL : HUGE_VAL;
            return false;
        }
        value = converted[0] == '-' ? -0.0 : 0.0;
        return true;
    }
    return result.ec == std::errc() && std::isfinite(value);
}

bool Int64ToText(std::int64_t value, std::string& text) {
    char buffer[33];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    text.assign(buffer, result.ptr);
    return result.ec == std::errc();
}

bool ParseUnsigned(std::string text, std::uint32_t& value) {
    NormalizeNumberText(text);
    if (!IsNumberText(text, false, false)) {
        return false;
    }
    return TextToUnsigned(text, value) && value != UNSIGNED_OVERFLOW;
}

bool ParseReal(std::string text, double& value) {
    ToUpperAscii(text);
    std::int32_t at = -1;
    if (FindChar(text, 'E', at) || FindChar(text, 'D', at)) {
        if (!CheckExponentForm(text, static_cast<std::size_t>(at))) {
            return false;
        }
    } else {
        NormalizeNumberText(text);
        if (!IsNumberText(text, true, true)) {
            return false;
        }
    }
    return TextToReal(text, value);
}

bool FormatScaled(std::int64_t value, std::string& text, std::uint32_t unit) {
    if (unit == UNIT_NONE) {
        text.clear();
        return false;
    }
    Int64ToText(value, text);
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) {
        text.erase(0, 1);
    }
    if (unit > 3) {
        return false;
    }
    const std::size_t decimals = 3 * static_cast<std::size_t>(unit);
    if (decimals > 0) {
        if (text.size() <= decimals) {
            text.insert(0, decimals + 1 - text.size(), '0');
        }
        text.insert(text.size() - decimals, 1, '.');
        // Only fraction digits go; the point guarantees the integer part stays.
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    if (negative) {
        text.insert(0, 1, '-');
    }
    return true;
}
