#include "numtext/duration.h"

#include <cstdio>
#include <ctime>
#include <string>

std::string ParseWhole(const std::string& text, std::uint64_t min, std::uint64_t max, std::uint64_t& value) {
    value = 0;
    bool fits = !text.empty();
    for (const char ch : text) {
        const unsigned digit = static_cast<unsigned>(ch - '0');
        if (ch < '0' || ch > '9' || value > (UINT64_MAX - digit) / 10) {
            fits = false;
            break;
        }
        value = value * 10 + digit;
    }
    if (!fits || value < min || value > max) {
        return "\"" + text + "\" is not a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
               " in decimal digits only";
    }
    return {};
}

std::string ParseDuration(const std::string& text, std::uint64_t& seconds) {
    static constexpr char UNITS[] = "dhms";
    static constexpr std::uint64_t UNIT_SECONDS[] = {86400, 3600, 60, 1};
    const std::string refusal = "\"" + text +
                                "\" is not a duration: whole numbers each followed by d, h, m or s, largest unit "
                                "first, e.g. 90s, 15m, 8h, 2d or 1h30m, or a bare number of seconds; at most " +
                                std::to_string(MAX_DURATION_SECONDS) + "s";
    seconds = 0;
    std::size_t at = 0;
    std::size_t nextUnit = 0;  // units before this one are no longer allowed
    while (at < text.size()) {
        std::size_t end = at;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
        std::uint64_t number = 0;
        if (!ParseWhole(text.substr(at, end - at), 0, MAX_DURATION_SECONDS, number).empty()) return refusal;
        std::uint64_t unit = 1;
        if (end == text.size()) {
            // A bare number is seconds only on its own: "1h30" could mean minutes.
            if (at != 0) return refusal;
        } else {
            const char* found = std::char_traits<char>::find(UNITS + nextUnit, 4 - nextUnit, text[end]);
            if (found == nullptr) return refusal;
            nextUnit = static_cast<std::size_t>(found - UNITS) + 1;
            unit = UNIT_SECONDS[nextUnit - 1];
            ++end;
        }
        if (number > (MAX_DURATION_SECONDS - seconds) / unit) return refusal;
        seconds += number * unit;
        at = end;
    }
    if (seconds == 0) return refusal;
    return {};
}

std::string ElapsedText(std::int64_t seconds) {
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return text;
}

std::string UtcText(std::int64_t micros) {
    constexpr std::int64_t MICROS_PER_SECOND = 1000000;
    // Rounded down to whole seconds, so that times before 1970 keep a positive fraction.
    std::int64_t fraction = micros % MICROS_PER_SECOND;
    std::time_t seconds = static_cast<std::time_t>(micros / MICROS_PER_SECOND);
    if (fraction < 0) {
        fraction += MICROS_PER_SECOND;
        seconds -= 1;
    }
    std::tm parts{};
    if (::gmtime_r(&seconds, &parts) == nullptr || parts.tm_year < 1 - 1900 || parts.tm_year > 9999 - 1900) {
        return "";
    }
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<long long>(fraction));
    return text;
}
