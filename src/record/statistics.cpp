#include "record/statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Raw samples are read in pieces of this many, which stay in the cache
// while both passes over them run.
constexpr std::uint64_t PIECE = 65536;

// The first level that holds statistics cells.
std::size_t StatisticsFloor(const SummaryPyramid& p) { return p.levels.size() > 1 ? 1 : 0; }

// A part of a range: whole cells of a level, or raw samples (level -1).
struct Part {
    StatisticsCell stats;
    int level;
    std::uint64_t begin;  // a cell's index, or the first raw sample
    std::uint64_t end;    // one past the last raw sample
};

class RangeQuery {
public:
    RangeQuery(const SampleSource& source, const SummaryPyramid* summaries, int channel)
        : m_source(source), m_summaries(summaries), m_channel(channel) {}

    // Splits begin .. end-1 into parts in order, the coarsest cells that
    // fit first and finer ones at the ends; false on a read error.
    bool Split(int level, std::uint64_t begin, std::uint64_t end) {
        if (begin >= end) {
            return true;
        }
        if (m_summaries == nullptr || level < static_cast<int>(StatisticsFloor(*m_summaries))) {
            return Raw(begin, end);
        }
        const SummaryPyramid::Level& l = m_summaries->levels[static_cast<std::size_t>(level)];
        const std::vector<StatisticsCell>& cells = l.stats[m_channel];
        const std::uint64_t first = begin / l.cell + (begin % l.cell != 0);
        const std::uint64_t stop = std::min<std::uint64_t>(end / l.cell, cells.size());
        if (first >= stop) {
            return Split(level - 1, begin, end);
        }
        if (!Split(level - 1, begin, first * l.cell)) {
            return false;
        }
        for (std::uint64_t k = first; k < stop; ++k) {
            m_parts.push_back({cells[k], level, k, 0});
        }
        return Split(level - 1, stop * l.cell, end);
    }

    const std::vector<Part>& Parts() const { return m_parts; }

    // The first sample of `part` that holds `value`, its minimum or maximum.
    std::optional<std::uint64_t> Find(const Part& part, double value, bool minimum) {
        if (part.level < 0) {
            return FindRaw(part.begin, part.end, value);
        }
        const SummaryPyramid& p = *m_summaries;
        std::uint64_t k = part.begin;
        for (auto level = static_cast<std::size_t>(part.level); level > StatisticsFloor(p); --level) {
            const std::vector<StatisticsCell>& finer = p.levels[level - 1].stats[m_channel];
            const std::uint64_t per = p.levels[level].cell / p.levels[level - 1].cell;
            std::uint64_t child = k * per;
            while (child + 1 < (k + 1) * per &&
                   (minimum ? finer[child].minimum : finer[child].maximum) != value) {
                ++child;
            }
            k = child;
        }
        const std::uint64_t cell = p.levels[StatisticsFloor(p)].cell;
        return FindRaw(k * cell, (k + 1) * cell, value);
    }

private:
    // A buffer of `n` samples at least (PIECE at most), kept for the next read.
    double* Buffer(std::uint64_t n) {
        if (m_buffer.size() < std::min(n, PIECE)) {
            m_buffer.resize(std::min(n, PIECE));
        }
        return m_buffer.data();
    }

    bool Raw(std::uint64_t begin, std::uint64_t end) {
        Buffer(end - begin);
        for (std::uint64_t at = begin; at < end; at += PIECE) {
            const std::uint64_t n = std::min(PIECE, end - at);
            if (!m_source.Copy(m_channel, at, n, m_buffer.data())) {
                return false;
            }
            m_parts.push_back({StatisticsOfRun(m_buffer.data(), n), -1, at, at + n});
        }
        return true;
    }

    std::optional<std::uint64_t> FindRaw(std::uint64_t begin, std::uint64_t end, double value) {
        Buffer(end - begin);
        for (std::uint64_t at = begin; at < end; at += PIECE) {
            const std::uint64_t n = std::min(PIECE, end - at);
            if (!m_source.Copy(m_channel, at, n, m_buffer.data())) {
                return std::nullopt;
            }
            for (std::uint64_t i = 0; i < n; ++i) {
                if (m_buffer[i] == value) {
                    return at + i;
                }
            }
        }
        return std::nullopt;
    }

    const SampleSource& m_source;
    const SummaryPyramid* m_summaries;
    int m_channel;
    std::vector<double> m_buffer;
    std::vector<Part> m_parts;
};

bool HoldsInfinity(const StatisticsCell& c) { return std::isinf(c.minimum) || std::isinf(c.maximum); }

}  // namespace

int StatisticsExponent(const StatisticsCell& cell) {
    const double largest = std::max(std::fabs(cell.minimum), std::fabs(cell.maximum));
    if (cell.numbers == 0 || !std::isfinite(largest) || largest == 0.0) {
        return 0;
    }
    // Numbers below 2^(e+1), so that deviations stay below 2^(e+2) and
    // their scaled squares below 16: nothing a double cannot hold.
    return std::clamp(std::ilogb(largest), -1000, 1022);
}

StatisticsCell StatisticsOfRun(const double* samples, std::uint64_t count) {
    // Four lanes keep the additions independent and each sum short; NaN is
    // left out by selects rather than branches (a comparison with NaN is
    // false, so it never becomes an extreme).
    double sum[4] = {};
    double low[4];
    double high[4];
    std::uint64_t nans[4] = {};
    for (int j = 0; j < 4; ++j) {
        low[j] = __builtin_huge_val();
        high[j] = -__builtin_huge_val();
    }
    std::uint64_t i = 0;
    const auto add = [&](int j, double v) {
        const bool number = v == v;
        sum[j] += number ? v : 0.0;
        nans[j] += number ? 0 : 1;
        low[j] = v < low[j] ? v : low[j];
        high[j] = v > high[j] ? v : high[j];
    };
    for (; i + 4 <= count; i += 4) {
        add(0, samples[i]);
        add(1, samples[i + 1]);
        add(2, samples[i + 2]);
        add(3, samples[i + 3]);
    }
    for (int j = 0; i < count; ++i, ++j) {
        add(j, samples[i]);
    }
    StatisticsCell c;
    c.nans = (nans[0] + nans[1]) + (nans[2] + nans[3]);
    c.numbers = count - c.nans;
    c.minimum = std::min(std::min(low[0], low[1]), std::min(low[2], low[3]));
    c.maximum = std::max(std::max(high[0], high[1]), std::max(high[2], high[3]));
    if (c.numbers == 0 || HoldsInfinity(c)) {
        return c;
    }
    const int exponent = StatisticsExponent(c);
    const double scale = std::ldexp(1.0, -exponent);
    const double n = static_cast<double>(c.numbers);
    double total = (sum[0] + sum[1]) + (sum[2] + sum[3]);
    double center = total / n * scale;
    if (!std::isfinite(total)) {
        // Huge numbers overflowed the plain sum: add them scaled instead.
        total = 0.0;
        for (i = 0; i < count; ++i) {
            total += samples[i] == samples[i] ? samples[i] * scale : 0.0;
        }
        center = total / n;
    }
    c.center = std::ldexp(center, exponent);
    // The second pass about the run's own mean keeps the deviations exact
    // however far the mean lies from zero; scaled, as the cell keeps them.
    double residual[4] = {};
    double deviations[4] = {};
    const auto deviate = [&](int j, double v) {
        const double d = v * scale - center;
        const double e = d == d ? d : 0.0;
        residual[j] += e;
        deviations[j] += e * e;
    };
    for (i = 0; i + 4 <= count; i += 4) {
        deviate(0, samples[i]);
        deviate(1, samples[i + 1]);
        deviate(2, samples[i + 2]);
        deviate(3, samples[i + 3]);
    }
    for (int j = 0; i < count; ++i, ++j) {
        deviate(j, samples[i]);
    }
    c.residual = (residual[0] + residual[1]) + (residual[2] + residual[3]);
    c.deviations = (deviations[0] + deviations[1]) + (deviations[2] + deviations[3]);
    return c;
}

StatisticsCell MergeStatistics(std::span<const StatisticsCell> cells) {
    StatisticsCell m;
    for (const StatisticsCell& c : cells) {
        m.numbers += c.numbers;
        m.nans += c.nans;
        m.minimum = std::min(m.minimum, c.minimum);
        m.maximum = std::max(m.maximum, c.maximum);
    }
    if (m.numbers == 0 || HoldsInfinity(m)) {
        return m;
    }
    // Every cell's sums brought to the scale of the largest number, which
    // none of them exceeds; a power of two changes no digit.
    const int exponent = StatisticsExponent(m);
    const double scale = std::ldexp(1.0, -exponent);
    double sum = 0.0;
    double compensation = 0.0;
    for (const StatisticsCell& c : cells) {
        if (c.numbers == 0) {
            continue;
        }
        // Neumaier's sum: what each addition rounds off is added at the end.
        const double part = static_cast<double>(c.numbers) * (c.center * scale) +
                            std::ldexp(c.residual, StatisticsExponent(c) - exponent);
        const double t = sum + part;
        compensation += std::fabs(sum) >= std::fabs(part) ? (sum - t) + part : (part - t) + sum;
        sum = t;
    }
    // Each run's deviations moved to the common center: the centers'
    // difference is exact where they lie close, so a small spread far from
    // zero keeps its digits.
    const double center = (sum + compensation) / static_cast<double>(m.numbers);
    m.center = std::ldexp(center, exponent);
    for (const StatisticsCell& c : cells) {
        if (c.numbers > 0) {
            const double n = static_cast<double>(c.numbers);
            const int shift = StatisticsExponent(c) - exponent;
            const double residual = std::ldexp(c.residual, shift);
            const double e = c.center * scale - center;
            m.residual += residual + n * e;
            m.deviations += std::ldexp(c.deviations, 2 * shift) + 2.0 * e * residual + n * e * e;
        }
    }
    return m;
}

void SummariseStatistics(SummaryPyramid& out, int channel, std::uint64_t first, std::uint64_t count,
                         std::span<const StatisticsCell> finest) {
    const std::uint64_t base = out.levels[0].cell;
    if (StatisticsFloor(out) == 0) {
        std::copy(finest.begin(), finest.end(), out.levels[0].stats[channel].begin() + first / base);
        return;
    }
    for (std::size_t l = 1; l < out.levels.size(); ++l) {
        SummaryPyramid::Level& level = out.levels[l];
        const std::uint64_t per = level.cell / out.levels[l - 1].cell;
        for (std::uint64_t k = first / level.cell; (k + 1) * level.cell <= first + count; ++k) {
            const std::span<const StatisticsCell> children =
                l == 1 ? finest.subspan(k * per - first / base, per)
                       : std::span<const StatisticsCell>(out.levels[l - 1].stats[channel]).subspan(k * per, per);
            level.stats[channel][k] = MergeStatistics(children);
        }
    }
}

std::optional<RangeStatistics> StatisticsOf(const SampleSource& source, const SummaryPyramid* summaries,
                                            int channel, std::uint64_t first, std::uint64_t last,
                                            bool positions) {
    RangeQuery query(source, summaries, channel);
    const int top = summaries == nullptr ? -1 : static_cast<int>(summaries->levels.size()) - 1;
    if (!query.Split(top, first, last)) {
        return std::nullopt;
    }
    std::vector<StatisticsCell> cells;
    cells.reserve(query.Parts().size());
    for (const Part& part : query.Parts()) {
        cells.push_back(part.stats);
    }
    const StatisticsCell all = MergeStatistics(cells);
    RangeStatistics r;
    r.count = last - first;
    r.nanCount = all.nans;
    if (all.numbers == 0) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        r.minimum = r.maximum = r.mean = r.rms = r.deviation = r.peakToPeak = nan;
        r.minimumAt = r.maximumAt = first;
        return r;
    }
    const auto firstHolding = [&](double value, bool minimum) -> std::optional<std::uint64_t> {
        for (const Part& part : query.Parts()) {
            if ((minimum ? part.stats.minimum : part.stats.maximum) == value) {
                return query.Find(part, value, minimum);
            }
        }
        return std::nullopt;
    };
    const std::optional<std::uint64_t> minimumAt = positions ? firstHolding(all.minimum, true) : first;
    const std::optional<std::uint64_t> maximumAt = positions ? firstHolding(all.maximum, false) : first;
    if (!minimumAt || !maximumAt) {
        return std::nullopt;
    }
    r.minimum = all.minimum;
    r.maximum = all.maximum;
    r.minimumAt = *minimumAt;
    r.maximumAt = *maximumAt;
    if (HoldsInfinity(all)) {
        // As numpy has it: the infinities decide the mean (both signs give
        // NaN), every square is infinite and no deviation is a number.
        const double inf = std::numeric_limits<double>::infinity();
        r.mean = all.maximum == inf ? (all.minimum == -inf ? std::nan("") : inf) : -inf;
        r.rms = inf;
        r.deviation = std::nan("");
    } else {
        const int exponent = StatisticsExponent(all);
        const double n = static_cast<double>(all.numbers);
        // About the mean itself, the deviations' squares lose the residual's
        // share. Scaled, so that neither a square nor a sum overflows.
        const double variance = std::max(0.0, all.deviations - all.residual * all.residual / n) / n;
        const double mean = all.center * std::ldexp(1.0, -exponent) + all.residual / n;
        // Rounding may not carry the mean past the extremes (nor, at the
        // largest double, past what a double holds), nor the RMS past the
        // largest magnitude.
        r.mean = std::clamp(std::ldexp(mean, exponent), all.minimum, all.maximum);
        r.deviation = std::ldexp(std::sqrt(variance), exponent);
        r.rms = std::min(std::ldexp(std::sqrt(variance + mean * mean), exponent),
                         std::max(std::fabs(all.minimum), std::fabs(all.maximum)));
    }
    r.peakToPeak = all.maximum - all.minimum;
    return r;
}
