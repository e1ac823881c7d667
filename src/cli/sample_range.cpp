#include "cli/sample_range.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

#include "cli/cli.h"
#include "cli/files_check.h"
#include "cli/options.h"
#include "cli/progress.h"

namespace vosctl {

namespace {

constexpr std::uint64_t MICROS_PER_SECOND = 1000000;
constexpr std::uint64_t MICROS_PER_DIVIDER = 100;
// Longest span taken: far beyond any record, and far from overflowing.
constexpr std::uint64_t MAX_SPAN_MICROS = std::uint64_t{1} << 62;

std::uint64_t PeriodMicros(const RecordSpan& span) {
    return static_cast<std::uint64_t>(std::max(span.clockDivider, 1)) * MICROS_PER_DIVIDER;
}

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

// "2026-12-08T02:00:00Z", optionally with decimals of the second.
bool ParseUtc(const std::string& text, std::int64_t& micros) {
    static constexpr char FORM[] = "dddd-dd-ddTdd:dd:dd";
    if (text.size() < sizeof FORM || text.back() != 'Z') {
        return false;
    }
    for (std::size_t i = 0; i + 1 < sizeof FORM; ++i) {
        if (FORM[i] == 'd' ? !IsDigit(text[i]) : text[i] != FORM[i]) {
            return false;
        }
    }
    std::size_t at = sizeof FORM - 1;
    std::uint64_t fraction = 0;
    if (text[at] == '.') {
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
    if (at + 1 != text.size()) {
        return false;
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
    micros = static_cast<std::int64_t>(seconds) * 1000000 + static_cast<std::int64_t>(fraction);
    return true;
}

std::string BoundsText(const RecordSpan& span) {
    if (span.count == 0) {
        return "the record holds no samples";
    }
    const std::uint64_t period = PeriodMicros(span);
    std::string text = "the record holds samples 0 to " + std::to_string(span.count - 1) + ", from 0s to " +
                       SecondsText((span.count - 1) * period) + " after its start";
    if (span.utc) {
        const std::optional<std::int64_t> start = span.utc(0);
        const std::optional<std::int64_t> end = span.utc(span.count - 1);
        if (start && end) {
            text += ", UTC " + UtcText(*start) + " to " + UtcText(*end);
        }
    }
    return text;
}

// The sample a bound names, or nullopt when it lies outside the record.
std::optional<std::uint64_t> SampleOf(const RangeBound& bound, const RecordSpan& span) {
    const std::uint64_t period = PeriodMicros(span);
    switch (bound.kind) {
    case RangeBound::Kind::Sample:
        return bound.sample <= span.count ? std::optional(bound.sample) : std::nullopt;
    case RangeBound::Kind::Time: {
        const std::uint64_t sample = bound.micros / period + (bound.micros % period != 0);
        return sample <= span.count ? std::optional(sample) : std::nullopt;
    }
    case RangeBound::Kind::Utc: {
        const std::optional<std::int64_t> start = span.count > 0 ? span.utc(0) : std::nullopt;
        const std::optional<std::int64_t> end = span.count > 0 ? span.utc(span.count - 1) : std::nullopt;
        if (!start || !end || bound.utc < *start || bound.utc > *end + static_cast<std::int64_t>(period)) {
            return std::nullopt;
        }
        // The first sample taken at or after the time; gaps between files
        // only ever move the times on.
        std::uint64_t low = 0;
        std::uint64_t high = span.count;
        while (low < high) {
            const std::uint64_t middle = low + (high - low) / 2;
            if (span.utc(middle).value_or(INT64_MAX) < bound.utc) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        return low;
    }
    }
    return std::nullopt;
}

}  // namespace

std::string ParseTimeSpan(const std::string& text, std::uint64_t& micros) {
    static constexpr char UNITS[] = "dhms";
    static constexpr std::uint64_t UNIT_MICROS[] = {86400 * MICROS_PER_SECOND, 3600 * MICROS_PER_SECOND,
                                                    60 * MICROS_PER_SECOND, MICROS_PER_SECOND};
    const std::string refusal = "\"" + text +
                                "\" is not a time: numbers each followed by d, h, m or s, largest unit first, "
                                "with decimals where wanted, e.g. 90s, 0.25s, 15m or 1h30m";
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
        if (end == text.size()) return refusal;
        const char* found = std::char_traits<char>::find(UNITS + nextUnit, 4 - nextUnit, text[end]);
        if (found == nullptr) return refusal;
        nextUnit = static_cast<std::size_t>(found - UNITS) + 1;
        const std::uint64_t unit = UNIT_MICROS[nextUnit - 1];
        // The fraction in seconds' units first, so that no product overflows.
        const std::uint64_t seconds = fraction * (unit / MICROS_PER_SECOND);
        const std::uint64_t part = scale >= MICROS_PER_SECOND ? seconds / (scale / MICROS_PER_SECOND)
                                                              : seconds * (MICROS_PER_SECOND / scale);
        if (whole > (MAX_SPAN_MICROS - micros) / unit || part > MAX_SPAN_MICROS - micros - whole * unit) {
            return refusal;
        }
        micros += whole * unit + part;
        at = end + 1;
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
           "\" is not a sample index (12345), a time from the record's start (90s, 1h30m, 0.25s) or a UTC "
           "time (2026-12-08T02:00:00Z)";
}

RecordSpan SpanOfFiles(const std::vector<DataFileHeader>& headers) {
    RecordSpan span;
    if (headers.empty()) {
        return span;
    }
    span.clockDivider = headers.front().clockDivider;
    auto firsts = std::make_shared<std::vector<std::uint64_t>>();
    bool stamped = true;
    for (const DataFileHeader& header : headers) {
        firsts->push_back(span.count);
        span.count += header.sampleCount;
        stamped = stamped && header.stamp.has_value();
    }
    if (stamped) {
        auto kept = std::make_shared<std::vector<DataFileHeader>>(headers);
        span.utc = [firsts, kept](std::uint64_t sample) -> std::optional<std::int64_t> {
            const auto file = static_cast<std::size_t>(std::upper_bound(firsts->begin(), firsts->end(), sample) -
                                                       firsts->begin() - 1);
            const DataFileHeader& header = (*kept)[file];
            return StampSampleMicros(*header.stamp, header.clockDivider, sample - (*firsts)[file]);
        };
    }
    return span;
}

int ResolveRange(const std::string& from, const std::string& to, const RecordSpan& span, std::uint64_t& first,
                 std::uint64_t& last) {
    first = 0;
    last = span.count;
    const auto resolve = [&](const char* option, const std::string& text, std::uint64_t& sample) {
        if (text.empty()) {
            return true;
        }
        RangeBound bound;
        ParseRangeBound(text, bound);
        if (bound.kind == RangeBound::Kind::Utc && !span.utc) {
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
    if (!resolve("--from", from, first) || !resolve("--to", to, last)) {
        return EXIT_USAGE;
    }
    if (first >= last) {
        return Fail(EXIT_USAGE,
                    "--from " + (from.empty() ? "the start" : from) + " --to " + (to.empty() ? "the end" : to) +
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
           "time from its start (90s, 1h30m, 0.25s; rounded up to the next sample) or, for\n"
           "a record that a recording stamped, a UTC time (2026-12-08T02:00:00Z). A part\n"
           "that holds no samples or reaches outside the record is refused with status 2,\n"
           "naming the record's bounds.\n\n";
}

}  // namespace vosctl
