#include "record/summaries.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <thread>

#include "record/statistics.h"

namespace {

// Statistics of a run of samples, NaN skipped.
struct Partial {
    double high = -std::numeric_limits<double>::infinity();
    double low = std::numeric_limits<double>::infinity();
};

void AddRun(Partial& p, const double* v, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) {
        p.high = v[i] > p.high ? v[i] : p.high;
        p.low = v[i] < p.low ? v[i] : p.low;
    }
}

void Merge(std::array<Partial, 4>& into, const std::array<Partial, 4>& from) {
    for (int ch = 0; ch < 4; ++ch) {
        into[ch].high = from[ch].high > into[ch].high ? from[ch].high : into[ch].high;
        into[ch].low = from[ch].low < into[ch].low ? from[ch].low : into[ch].low;
    }
}

// The Summary of samples begin .. end-1 from their partial statistics: none
// for no samples, and a single sample is its own maximum and minimum.
void Finish(ChannelStatistics* out, const std::array<Partial, 4>& p, const SampleSource& source,
            std::uint64_t begin, std::uint64_t end) {
    for (int ch = 0; ch < 4; ++ch) {
        ChannelStatistics& s = out[ch];
        s.valid = begin < end;
        if (end - begin == 1) {
            s.maximum = s.minimum = source.At(ch, begin);
        } else if (s.valid) {
            s.maximum = p[ch].high;
            s.minimum = p[ch].low;
        }
    }
}

// Fills the finest cells that lie in samples first .. first+n-1 (first a
// multiple of the cell) from those samples at `v`.
void SummariseFinest(SummaryPyramid& out, int channel, std::uint64_t first, const double* v,
                     std::uint32_t n) {
    SummaryPyramid::Level& base = out.levels[0];
    const std::uint64_t cellBase = first / base.cell;
    for (std::uint32_t k = 0; (k + 1) * base.cell <= n; ++k) {
        const SampleExtremes e = ExtremesOfRun(v + k * base.cell, base.cell);
        base.low[channel][cellBase + k] = e.low;
        base.high[channel][cellBase + k] = e.high;
    }
}

// Fills the coarser cells that lie in samples chunk .. chunk+n-1 (chunk a
// multiple of the coarsest cell) from the finer ones.
void SummariseCoarser(SummaryPyramid& out, int channel, std::uint64_t chunk, std::uint64_t n) {
    for (std::size_t l = 1; l < out.levels.size(); ++l) {
        const SummaryPyramid::Level& finer = out.levels[l - 1];
        SummaryPyramid::Level& level = out.levels[l];
        const std::uint32_t per = level.cell / finer.cell;
        const std::uint64_t first = chunk / level.cell;
        for (std::uint64_t k = first; (k + 1) * level.cell <= chunk + n; ++k) {
            SampleExtremes e{finer.low[channel][k * per], finer.high[channel][k * per]};
            for (std::uint32_t j = 1; j < per; ++j) {
                e = MergeExtremes(e, {finer.low[channel][k * per + j], finer.high[channel][k * per + j]});
            }
            level.low[channel][k] = e.low;
            level.high[channel][k] = e.high;
        }
    }
}

// Gives `out` the levels of its shape (when it has none yet), each with the
// whole cells of `count` samples.
void SizeLevels(SummaryPyramid& out, std::uint64_t count) {
    if (out.levels.empty()) {
        std::uint64_t cell = std::max<std::uint32_t>(out.shape.baseCell, 1);
        for (std::uint32_t l = 0; l < std::max<std::uint32_t>(out.shape.levels, 1); ++l) {
            SummaryPyramid::Level level;
            level.cell = static_cast<std::uint32_t>(std::min<std::uint64_t>(cell, UINT32_MAX));
            out.levels.push_back(std::move(level));
            cell *= std::max<std::uint32_t>(out.shape.factor, 2);
        }
    }
    for (std::size_t l = 0; l < out.levels.size(); ++l) {
        SummaryPyramid::Level& level = out.levels[l];
        for (int ch = 0; ch < 4; ++ch) {
            level.low[ch].resize(count / level.cell);
            level.high[ch].resize(count / level.cell);
            if (l > 0 || out.levels.size() == 1) {
                level.stats[ch].resize(count / level.cell);
            }
        }
    }
}

// The partial statistics behind `s`, the Summary of `count` samples from
// `begin` on: a single sample is read again, since its Summary may be NaN.
Partial Resume(const ChannelStatistics& s, const SampleSource& source, int channel, std::uint64_t begin,
               std::uint64_t count) {
    Partial p;
    if (count >= 2) {
        p.high = s.maximum;
        p.low = s.minimum;
    } else if (count == 1) {
        const double v = source.At(channel, begin);
        AddRun(p, &v, 1);
    }
    return p;
}

}  // namespace

SummaryShape SummaryShapeFor(std::uint64_t count) {
    SummaryShape shape;
    // The coarsest cell stays far inside 32 bits.
    while (count / shape.baseCell > MAX_FINEST_CELLS && shape.baseCell < (std::uint32_t{1} << 19)) {
        shape.baseCell *= 2;
    }
    return shape;
}

SampleExtremes SummaryPyramid::Extremes(const SampleSource& source, int channel,
                                        std::uint64_t begin, std::uint64_t end) const {
    // Coarsest first: whole cells of a level, the ends left to the finer
    // ones. Of gives `known` merged with the extremes of samples b .. e-1; an
    // end that lies inside a cell whose extremes `known` already spans cannot
    // change the result and is not read, so a redraw reads raw samples only
    // where they may matter.
    struct Query {
        const SummaryPyramid& p;
        const SampleSource& source;
        int channel;
        bool Spans(SampleExtremes known, const Level& l, std::uint64_t k) const {
            return k < l.low[channel].size() && SpansExtremes(known, {l.low[channel][k], l.high[channel][k]});
        }
        SampleExtremes Of(int level, std::uint64_t b, std::uint64_t e, SampleExtremes known) const {
            if (level < 0) {
                return MergeExtremes(known, source.Extremes(channel, b, e));
            }
            const Level& l = p.levels[static_cast<std::size_t>(level)];
            const std::uint64_t cells = l.low[channel].size();
            const std::uint64_t fc = b / l.cell + (b % l.cell != 0);
            const std::uint64_t ec = std::min(e / l.cell, cells);
            if (fc > ec) {
                // Inside one cell.
                return Spans(known, l, ec) ? known : Of(level - 1, b, e, known);
            }
            SampleExtremes r = known;
            for (std::uint64_t k = fc; k < ec; ++k) {
                r = MergeExtremes(r, {l.low[channel][k], l.high[channel][k]});
            }
            // The shorter end first: what it finds may make the longer one needless.
            const std::uint64_t left = fc * l.cell - b;
            const std::uint64_t right = e - ec * l.cell;
            for (const bool leftEnd : {left <= right, left > right}) {
                if (leftEnd && left > 0 && !Spans(r, l, fc - 1)) {
                    r = Of(level - 1, b, fc * l.cell, r);
                } else if (!leftEnd && right > 0 && !Spans(r, l, ec)) {
                    r = Of(level - 1, ec * l.cell, e, r);
                }
            }
            return r;
        }
    };
    // Seeded with the last sample, which a column's envelope reads anyway: on
    // a flat stretch it already spans every cell around the ends. (An
    // unreadable sample gives UNREADABLE_RUN, which knows nothing.)
    return Query{*this, source, channel}.Of(static_cast<int>(levels.size()) - 1, begin, end,
                                            source.Extremes(channel, end - 1, end));
}

SummaryResult BuildSummaries(const SampleSource& source, const SummaryShape& shape, int threads,
                             SummaryProgress& progress, SummaryPyramid& out,
                             std::span<const std::uint64_t> partStarts) {
    out = SummaryPyramid{};
    out.shape = shape;
    out.count = source.Count();
    SizeLevels(out, out.count);
    // Stretches of whole coarsest cells (and at least a few thousand
    // samples), each summarised by one thread on its own.
    const std::uint64_t top = out.levels.back().cell;
    const std::uint64_t stretch = top * ((65535 + top) / top);
    const std::uint64_t stretches = out.count / stretch + (out.count % stretch != 0);
    std::atomic<std::uint64_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex statsLock;
    std::vector<std::uint64_t> starts(partStarts.begin(), partStarts.end());
    if (starts.empty()) {
        starts.push_back(0);
    }
    std::vector<std::array<Partial, 4>> total(starts.size());
    // Each stretch is read in pieces that stay in the processor's cache
    // while both passes over them run.
    const std::uint32_t base = out.levels[0].cell;
    const std::uint32_t piece = base * ((65535 + base) / base);
    const auto work = [&] {
        std::vector<double> buffer(piece);
        std::vector<StatisticsCell> finest(stretch / base);
        std::vector<std::array<Partial, 4>> mine(starts.size());
        for (std::uint64_t s = next++; s < stretches; s = next++) {
            if (progress.cancel.load() || failed.load()) {
                return;
            }
            const std::uint64_t first = s * stretch;
            const std::uint64_t n = std::min(stretch, out.count - first);
            for (int ch = 0; ch < 4; ++ch) {
                for (std::uint64_t at = first; at < first + n; at += piece) {
                    const auto m = static_cast<std::uint32_t>(std::min<std::uint64_t>(piece, first + n - at));
                    if (!source.Copy(ch, at, m, buffer.data())) {
                        failed = true;
                        return;
                    }
                    // Each part's share of the piece goes to that part.
                    for (std::uint64_t from = at; from < at + m;) {
                        const auto part = static_cast<std::size_t>(
                            std::upper_bound(starts.begin(), starts.end(), from) - starts.begin() - 1);
                        const std::uint64_t to =
                            part + 1 < starts.size() ? std::min(at + m, starts[part + 1]) : at + m;
                        AddRun(mine[part][ch], buffer.data() + (from - at), static_cast<std::uint32_t>(to - from));
                        from = to;
                    }
                    SummariseFinest(out, ch, at, buffer.data(), m);
                    for (std::uint32_t k = 0; (k + 1) * base <= m; ++k) {
                        finest[(at - first) / base + k] = StatisticsOfRun(buffer.data() + k * base, base);
                    }
                }
                SummariseCoarser(out, ch, first, n);
                SummariseStatistics(out, ch, first, n, std::span(finest).first(n / base));
            }
            progress.done += n;
        }
        std::lock_guard<std::mutex> lock(statsLock);
        for (std::size_t part = 0; part < starts.size(); ++part) {
            Merge(total[part], mine[part]);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::max(threads, 1); ++t) {
        pool.emplace_back(work);
    }
    work();
    for (std::thread& t : pool) {
        t.join();
    }
    if (failed) {
        return SummaryResult::ReadError;
    }
    if (progress.cancel) {
        return SummaryResult::Cancelled;
    }
    std::array<Partial, 4> whole;
    out.partStatistics.resize(starts.size());
    for (std::size_t part = 0; part < starts.size(); ++part) {
        Merge(whole, total[part]);
        const std::uint64_t end = part + 1 < starts.size() ? starts[part + 1] : out.count;
        Finish(out.partStatistics[part].data(), total[part], source, starts[part], end);
    }
    Finish(out.statistics, whole, source, 0, out.count);
    return SummaryResult::Done;
}

bool SummaryPyramid::Extend(const SampleSource& source, std::uint64_t upTo,
                            std::span<const std::uint64_t> partStarts) {
    const std::uint64_t old = levels.empty() ? 0 : count;
    if (upTo < old || (upTo == old && !levels.empty())) {
        return true;
    }
    std::vector<std::uint64_t> starts(partStarts.begin(), partStarts.end());
    if (starts.empty()) {
        starts.push_back(0);
    }
    // Each part's end before and after, and what its Summary stands for.
    const auto endOf = [&](std::size_t part, std::uint64_t total) {
        return std::min(part + 1 < starts.size() ? starts[part + 1] : total, total);
    };
    std::vector<std::array<Partial, 4>> parts(starts.size());
    std::array<Partial, 4> whole;
    for (int ch = 0; ch < 4; ++ch) {
        whole[ch] = Resume(statistics[ch], source, ch, 0, old);
        for (std::size_t part = 0; part < starts.size() && part < partStatistics.size(); ++part) {
            const std::uint64_t end = endOf(part, old);
            parts[part][ch] = Resume(partStatistics[part][ch], source, ch, starts[part],
                                     end > starts[part] ? end - starts[part] : 0);
        }
    }
    SizeLevels(*this, upTo);
    // From the start of the statistics cell the old samples end in: only that
    // cell's samples are read again.
    const std::uint32_t base = levels[0].cell;
    const std::uint64_t statsCell = levels[levels.size() > 1 ? 1 : 0].cell;
    const std::uint64_t from = old / statsCell * statsCell;
    const std::uint64_t n = upTo - from;
    const std::uint32_t piece = base * ((65535 + base) / base);
    std::vector<double> buffer(piece);
    std::vector<StatisticsCell> finest(n / base);
    for (int ch = 0; ch < 4; ++ch) {
        for (std::uint64_t at = from; at < upTo; at += piece) {
            const auto m = static_cast<std::uint32_t>(std::min<std::uint64_t>(piece, upTo - at));
            if (!source.Copy(ch, at, m, buffer.data())) {
                // The cells written so far hold their true values; the rest is dropped.
                SizeLevels(*this, old);
                return false;
            }
            for (std::uint64_t v = std::max(at, old); v < at + m;) {
                const auto part = static_cast<std::size_t>(
                    std::upper_bound(starts.begin(), starts.end(), v) - starts.begin() - 1);
                const std::uint64_t to = std::min(at + m, part + 1 < starts.size() ? starts[part + 1] : at + m);
                AddRun(parts[part][ch], buffer.data() + (v - at), static_cast<std::uint32_t>(to - v));
                AddRun(whole[ch], buffer.data() + (v - at), static_cast<std::uint32_t>(to - v));
                v = to;
            }
            SummariseFinest(*this, ch, at, buffer.data(), m);
            for (std::uint32_t k = 0; (k + 1) * base <= m; ++k) {
                finest[(at - from) / base + k] = StatisticsOfRun(buffer.data() + k * base, base);
            }
        }
        SummariseCoarser(*this, ch, from, n);
        SummariseStatistics(*this, ch, from, n, finest);
    }
    count = upTo;
    partStatistics.resize(starts.size());
    for (std::size_t part = 0; part < starts.size(); ++part) {
        Finish(partStatistics[part].data(), parts[part], source, starts[part], endOf(part, upTo));
    }
    Finish(statistics, whole, source, 0, upTo);
    return true;
}
