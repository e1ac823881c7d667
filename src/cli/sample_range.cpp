#include "cli/sample_range.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "cli/cli.h"
#include "cli/files_check.h"
#include "cli/options.h"
#include "cli/progress.h"

namespace vosctl {

namespace {

constexpr std::uint64_t MICROS_PER_SECOND = 1000000;
// Longest span taken: far beyond any record, and far from overflowing.
constexpr std::uint64_t MAX_SPAN_MICROS = std::uint64_t{1} << 62;

// "12.5s": whole seconds and up to six decimals, trailing zeros dropped.
std::string SecondsText(std::uint64_t micros) {
    std::string text = std::to_string(micros / MICROS_PER_SECOND);
    if (const std::uint64_t rest = micros % MICROS_PER_SECOND; rest != 0) {
        char decimals[8];
        std::snprintf(decimals, sizeof decimals, "%06llu", static_cast<unsigned long long>(rest));
        std::string d = decimals;
        d.erase(d.find_last_not_of('0') + 1);
        text += "." + d;
    }
    return text + "s";
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "2026-12-08T02:00:00Z", optionally with decimals of the second, and "Z"
// or an offset from UTC: "+00:00", "+09:00", "-05:30".
bool ParseUtc(const std::string& text, std::int64_t& micros) {
    static constexpr char FORM[] = "dddd-dd-ddTdd:dd:dd";
    if (text.size() < sizeof FORM) {
        return false;
    }
    for (std::size_t i = 0; i + 1 < sizeof FORM; ++i) {
        if (FORM[i] == 'd' ? !IsDigit(text[i]) : text[i] != FORM[i]) {
            return false;
        }
    }
    std::size_t at = sizeof FORM - 1;
    std::uint64_t fraction = 0;
    if (at < text.size() && text[at] == '.') {
        std::size_t digits = 0;
        for (++at; at < text.size() && IsDigit(text[at]); ++at, ++digits) {
            if (digits < 6) {
                fraction = fraction * 10 + static_cast<std::uint64_t>(text[at] - '0');
            }
        }
        if (digits == 0 || digits > 6) {
            return false;
        }
        for (; digits < 6; ++digits) {
            fraction *= 10;
        }
    }
    std::int64_t offsetMinutes = 0;
    const std::string zone = text.substr(at);
    if (zone != "Z") {
        static constexpr char OFFSET[] = "+dd:dd";
        if (zone.size() != sizeof OFFSET - 1 || (zone[0] != '+' && zone[0] != '-')) {
            return false;
        }
        for (std::size_t i = 1; i < zone.size(); ++i) {
            if (OFFSET[i] == 'd' ? !IsDigit(zone[i]) : zone[i] != OFFSET[i]) {
                return false;
            }
        }
        const int hours = std::stoi(zone.substr(1, 2));
        const int minutes = std::stoi(zone.substr(4, 2));
        if (hours > 23 || minutes > 59) {
            return false;
        }
        offsetMinutes = (zone[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
    }
    const auto field = [&](std::size_t from, std::size_t n) { return std::stoi(text.substr(from, n)); };
    std::tm tm{};
    tm.tm_year = field(0, 4) - 1900;
    tm.tm_mon = field(5, 2) - 1;
    tm.tm_mday = field(8, 2);
    tm.tm_hour = field(11, 2);
    tm.tm_min = field(14, 2);
    tm.tm_sec = field(17, 2);
    const std::tm asked = tm;
    const std::time_t seconds = ::timegm(&tm);
    // timegm moves an impossible date (February 30) on: refuse it instead.
    if (tm.tm_mday != asked.tm_mday || tm.tm_mon != asked.tm_mon || tm.tm_hour != asked.tm_hour ||
        tm.tm_min != asked.tm_min || tm.tm_sec != asked.tm_sec) {
        return false;
    }
    micros = (static_cast<std::int64_t>(seconds) - offsetMinutes * 60) * 1000000 + static_cast<std::int64_t>(fraction);
    return true;
}

std::string BoundsText(const RecordSpan& span) {
    if (span.count == 0) {
        return "the record holds no samples";
    }
    std::string text = "the record holds samples 0 to " + std::to_string(span.count - 1) + ", from 0s to " +
                       SecondsText(static_cast<std::uint64_t>(span.times.MicrosFromStart(span.count - 1))) +
                       " after its start";
    if (span.times.Stamped()) {
        text += ", UTC " + UtcText(*span.times.Utc(0)) + " to " + UtcText(*span.times.Utc(span.count - 1));
    }
    if (const std::size_t gaps = span.times.Gaps().size(); gaps > 0) {
        text += ", with " + std::to_string(gaps) + (gaps == 1 ? " gap" : " gaps") + " in its time";
    }
    return text;
}

// The sample a bound names, or nullopt when it lies outside the record.
std::optional<std::uint64_t> SampleOf(const RangeBound& bound, const RecordSpan& span) {
    switch (bound.kind) {
    case RangeBound::Kind::Sample:
        return bound.sample <= span.count ? std::optional(bound.sample) : std::nullopt;
    case RangeBound::Kind::Time:
        if (bound.micros > static_cast<std::uint64_t>(span.times.DurationMicros())) return std::nullopt;
        return span.times.SampleAtOrAfter(static_cast<std::int64_t>(bound.micros));
    case RangeBound::Kind::Utc: {
        const std::optional<std::int64_t> start = span.count > 0 ? span.times.Utc(0) : std::nullopt;
        if (!start || !span.times.Stamped() || bound.utc < *start ||
            bound.utc - *start > span.times.DurationMicros()) {
            return std::nullopt;
        }
        return span.times.SampleAtOrAfterUtc(bound.utc);
    }
    }
    return std::nullopt;
}

}  // namespace

std::string ParseTimeSpan(const std::string& text, std::uint64_t& micros) {
    static constexpr const char* UNITS[] = {"d", "h", "m", "s", "ms", "us"};
    static constexpr std::uint64_t UNIT_MICROS[] = {86400 * MICROS_PER_SECOND, 3600 * MICROS_PER_SECOND,
                                                    60 * MICROS_PER_SECOND, MICROS_PER_SECOND, 1000, 1};
    constexpr std::size_t UNIT_COUNT = std::size(UNITS);
    const std::string refusal = "\"" + text +
                                "\" is not a time: numbers each followed by d, h, m, s, ms or us, largest unit "
                                "first, with decimals where wanted, e.g. 90s, 0.25s, 250ms, 15m or 1h30m";
    micros = 0;
    std::size_t at = 0;
    std::size_t nextUnit = 0;  // units before this one are no longer allowed
    if (text.empty()) {
        return refusal;
    }
    while (at < text.size()) {
        std::size_t end = at;
        while (end < text.size() && IsDigit(text[end])) ++end;
        std::uint64_t whole = 0;
        if (!ParseWhole(text.substr(at, end - at), 0, MAX_SPAN_MICROS, whole).empty()) return refusal;
        std::uint64_t fraction = 0;
        std::uint64_t scale = 1;
        if (end < text.size() && text[end] == '.') {
            const std::size_t digits = ++end;
            while (end < text.size() && IsDigit(text[end])) ++end;
            if (end == digits || end - digits > 12) return refusal;
            fraction = std::stoull(text.substr(digits, end - digits));
            for (std::size_t i = digits; i < end; ++i) scale *= 10;
        }
        std::size_t unitEnd = end;
        while (unitEnd < text.size() && !IsDigit(text[unitEnd])) ++unitEnd;
        const std::string name = text.substr(end, unitEnd - end);
        const auto found = std::find(UNITS + nextUnit, UNITS + UNIT_COUNT, name);
        if (found == UNITS + UNIT_COUNT) return refusal;
        nextUnit = static_cast<std::size_t>(found - UNITS) + 1;
        const std::uint64_t unit = UNIT_MICROS[nextUnit - 1];
        // The fraction in microseconds, so that no product overflows: a
        // fraction of a unit below a second is worth its unit's microseconds.
        const std::uint64_t part =
            unit >= MICROS_PER_SECOND
                ? (scale >= MICROS_PER_SECOND ? fraction * (unit / MICROS_PER_SECOND) / (scale / MICROS_PER_SECOND)
                                              : fraction * (unit / MICROS_PER_SECOND) * (MICROS_PER_SECOND / scale))
                : fraction * unit / scale;
        if (whole > (MAX_SPAN_MICROS - micros) / unit || part > MAX_SPAN_MICROS - micros - whole * unit) {
            return refusal;
        }
        micros += whole * unit + part;
        at = unitEnd;
    }
    return {};
}

std::string ParseRangeBound(const std::string& text, RangeBound& bound) {
    bound = RangeBound{};
    if (!text.empty() && std::all_of(text.begin(), text.end(), IsDigit)) {
        bound.kind = RangeBound::Kind::Sample;
        return ParseWhole(text, 0, UINT64_MAX, bound.sample);
    }
    if (ParseUtc(text, bound.utc)) {
        bound.kind = RangeBound::Kind::Utc;
        return {};
    }
    if (ParseTimeSpan(text, bound.micros).empty()) {
        bound.kind = RangeBound::Kind::Time;
        return {};
    }
    return "\"" + text +
           "\" is not a sample index (12345), a time from the record's start (90s, 1h30m, 0.25s, 250ms) or a "
           "UTC time (2026-12-08T02:00:00Z, 2026-12-08T11:00:00+09:00)";
}

RecordSpan SpanOfFiles(const std::vector<DataFileHeader>& headers) {
    RecordSpan span;
    span.times = TimeMap::OfFiles(headers);
    span.count = span.times.Count();
    span.clockDivider = span.times.ClockDivider();
    return span;
}

int ResolveRange(const std::string& from, const std::string& to, const RecordSpan& span, std::uint64_t& first,
                 std::uint64_t& last, const RangeNames& names) {
    first = 0;
    last = span.count;
    const auto resolve = [&](const char* option, const std::string& text, std::uint64_t& sample) {
        if (text.empty()) {
            return true;
        }
        RangeBound bound;
        ParseRangeBound(text, bound);
        if (bound.kind == RangeBound::Kind::Utc && !span.times.Stamped()) {
            Fail(EXIT_USAGE, std::string(option) + " " + text + " is a UTC time",
                 "the record has no recording stamp to place it; give a sample index or a time from its start");
            return false;
        }
        const std::optional<std::uint64_t> at = SampleOf(bound, span);
        if (!at) {
            Fail(EXIT_USAGE, std::string(option) + " " + text + " lies outside the record", BoundsText(span));
            return false;
        }
        sample = *at;
        return true;
    };
    if (!resolve(names.from, from, first) || !resolve(names.to, to, last)) {
        return EXIT_USAGE;
    }
    if (first >= last) {
        return Fail(EXIT_USAGE,
                    std::string(names.from) + " " + (from.empty() ? "the start" : from) + " " + names.to + " " +
                        (to.empty() ? "the end" : to) +
                        " selects no samples (from sample " + std::to_string(first) + " to before sample " +
                        std::to_string(last) + ")",
                    BoundsText(span));
    }
    return EXIT_OK;
}

int LoadRecordPart(const std::vector<std::string>& paths, const std::string& from, const std::string& to,
                   const std::string& undone, RecordPart& part) {
    if (const int status = LoadRecordHeaders(paths, part.headers, undone); status != EXIT_OK) {
        return status;
    }
    part.span = SpanOfFiles(part.headers);
    return ResolveRange(from, to, part.span, part.first, part.last);
}

void AddRangeOptions(CLI::App& command, std::string& from, std::string& to) {
    const auto check = CLI::Validator(
        [](std::string& text) {
            RangeBound bound;
            return ParseRangeBound(text, bound);
        },
        "");
    command.add_option("--from", from, "First sample of the part: a sample index, a time from the start, or a UTC time")
        ->type_name("WHEN")
        ->check(check);
    command.add_option("--to", to, "End of the part (that sample is not in it), in the same forms as --from")
        ->type_name("WHEN")
        ->check(check);
}

std::string RangeHelp() {
    return "--from and --to take a part [from, to) of the record: a sample index (12345), a\n"
           "time from its start (90s, 1h30m, 0.25s, 250ms, 100us) or, for a record that a\n"
           "recording stamped, a UTC time (2026-12-08T02:00:00Z, 2026-12-08T11:00:00+09:00),\n"
           "naming the first sample taken at or after it. Times are real times, gaps\n"
           "included: a time inside a gap names the first sample after it. A part that\n"
           "holds no samples or reaches outside the record is refused with status 2.\n\n";
}

}  // namespace vosctl
