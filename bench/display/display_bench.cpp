#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

#include "display/envelope.h"
#include "display/plotview.h"
#include "display/viewrange.h"
#include "record/statistics.h"
#include "record/summaries.h"

namespace {

constexpr std::uint32_t FULL_RECORD = 1000000;

struct FullRecord {
    std::vector<double> data[4];
    const double* pointers[4];

    FullRecord() {
        for (int ch = 0; ch < 4; ++ch) {
            data[ch].resize(FULL_RECORD);
            for (std::uint32_t s = 0; s < FULL_RECORD; ++s) {
                data[ch][s] = 5.0 + 4.5 * std::sin(s * 0.0007 * (ch + 1)) + (s % 7) * 0.01;
            }
            pointers[ch] = data[ch].data();
        }
    }
};

const FullRecord& Record() {
    static const FullRecord record;
    return record;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU time of this thread: the ratio of two drawings then holds while other
// processes share the machine.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

// The least any envelope must do: read every sample once and keep a minimum
// and a maximum per channel.
void PlainMinMax(const FullRecord& record) {
    for (int ch = 0; ch < 4; ++ch) {
        const double* v = record.pointers[ch];
        double low = v[0];
        double high = v[0];
        for (std::uint32_t s = 1; s < FULL_RECORD; ++s) {
            low = v[s] < low ? v[s] : low;
            high = v[s] > high ? v[s] : high;
        }
        benchmark::DoNotOptimize(low);
        benchmark::DoNotOptimize(high);
    }
}

// Both passes run in every iteration, alternating, so the ratio compares
// them under the same machine load.
void BM_BuildEnvelopeVsPlainMinMax(benchmark::State& state) {
    const FullRecord& record = Record();
    auto tables = std::make_unique<ColumnTables>();
    const Rect plot = DefaultPaneGeometry().paneInner[0];
    double baseline = 0.0;
    double envelope = 0.0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        PlainMinMax(record);
        auto t1 = std::chrono::steady_clock::now();
        for (int ch = 0; ch < 4; ++ch) {
            BuildEnvelope(*tables, ch, record.pointers[ch], 0, FULL_RECORD, plot);
        }
        benchmark::ClobberMemory();
        auto t2 = std::chrono::steady_clock::now();
        baseline += Seconds(t1 - t0);
        envelope += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t2 - t1));
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["plain_ms"] = baseline / n * 1e3;
    state.counters["envelope_ms"] = envelope / n * 1e3;
    state.counters["ratio"] = envelope / baseline;
}
BENCHMARK(BM_BuildEnvelopeVsPlainMinMax)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_RedrawAllFullRecord(benchmark::State& state) {
    const FullRecord& record = Record();
    const int mode = static_cast<int>(state.range(0));
    PlotView view(DefaultPaneGeometry(), QColor(240, 240, 240));
    for (auto _ : state) {
        view.RedrawAll(mode, true, record.pointers, FULL_RECORD, 1);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RedrawAllFullRecord)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// 100M samples per channel made as they are read, so that no memory holds
// them: a scrambled sawtooth about 1.5 V with a channel's own offset.
class LongSource final : public SampleSource {
public:
    static constexpr std::uint32_t COUNT = 100000000;
    std::uint64_t Count() const override { return COUNT; }
    std::int32_t ClockDivider() const override { return 1; }
    bool Copy(int channel, std::uint64_t first, std::uint64_t count, double* out) const override {
        for (std::uint64_t i = 0; i < count; ++i) {
            out[i] = At(channel, first + i);
        }
        return true;
    }
    double At(int channel, std::uint64_t sample) const override {
        return 1.5 + channel + static_cast<double>((static_cast<std::uint32_t>(sample) * 2654435761u) % 1000) * 0.001;
    }
    SampleExtremes Extremes(int channel, std::uint64_t begin, std::uint64_t end) const override {
        std::vector<double> v(end - begin);
        Copy(channel, begin, end - begin, v.data());
        return ExtremesOfRun(v.data(), end - begin);
    }
};

// The statistics of every channel over a range of 100M samples (less a few
// at each end, so that raw samples are read there), from the summaries,
// against a full RedrawAll of a 1M-sample record; both in every iteration.
void BM_StatisticsOf100MVsRedrawAll(benchmark::State& state) {
    const FullRecord& record = Record();
    static const LongSource source;
    static const SummaryPyramid summaries = [] {
        SummaryProgress progress;
        SummaryPyramid p;
        BuildSummaries(source, SummaryShape{}, 2, progress, p);
        return p;
    }();
    PlotView view(DefaultPaneGeometry(), QColor(240, 240, 240));
    double redraw = 0.0;
    double statistics = 0.0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        view.RedrawAll(0, true, record.pointers, FULL_RECORD, 1);
        benchmark::ClobberMemory();
        const double t1 = ThreadSeconds();
        for (int ch = 0; ch < 4; ++ch) {
            benchmark::DoNotOptimize(StatisticsOf(source, &summaries, ch, 12345, LongSource::COUNT - 6789));
        }
        const double t2 = ThreadSeconds();
        redraw += t1 - t0;
        statistics += t2 - t1;
        state.SetIterationTime(t2 - t1);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["redraw_all_ms"] = redraw / n * 1e3;
    state.counters["statistics_ms"] = statistics / n * 1e3;
    state.counters["ratio"] = statistics / redraw;
}
BENCHMARK(BM_StatisticsOf100MVsRedrawAll)->UseManualTime()->Unit(benchmark::kMillisecond);

// Summaries with statistics cells of a 16M-sample record in memory, on one
// thread: the time to open a series whose summaries are not cached, less the
// reading of its files.
void BM_BuildSummaries16M(benchmark::State& state) {
    static const std::vector<double> samples = [] {
        std::vector<double> v(16u << 20);
        for (std::size_t s = 0; s < v.size(); ++s) {
            v[s] = 5.0 + 4.5 * std::sin(s * 0.0007) + (s % 7) * 0.01;
        }
        return v;
    }();
    const double* channels[4] = {samples.data(), samples.data(), samples.data(), samples.data()};
    const RecordSource source(channels, static_cast<std::uint32_t>(samples.size()), 1);
    for (auto _ : state) {
        SummaryProgress progress;
        SummaryPyramid p;
        BuildSummaries(source, SummaryShape{}, 1, progress, p);
        benchmark::DoNotOptimize(p.levels.data());
    }
}
BENCHMARK(BM_BuildSummaries16M)->Unit(benchmark::kMillisecond);

// One wheel notch on the plot: the visible range shrinks to 4/5 around the
// pointer and the canvas is drawn again for it, against the full RedrawAll of
// the whole record (which the window always draws before any zoom). Both run
// in every iteration, alternating, so the ratio compares them under the same
// machine load. Arg: the pointer's column, then 0 for the first notch from
// the whole record or 1 for a notch at 1/100 of it.
void BM_ZoomStepVsRedrawAll(benchmark::State& state) {
    const FullRecord& record = Record();
    PlotView view(DefaultPaneGeometry(), QColor(240, 240, 240));
    const std::int32_t column = static_cast<std::int32_t>(state.range(0));
    const ViewRange from = state.range(1) == 0 ? FullView(FULL_RECORD) : ViewRange{400000, 10000};
    double full = 0.0;
    double zoom = 0.0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        view.RedrawAll(0, true, record.pointers, FULL_RECORD, 1);
        benchmark::ClobberMemory();
        const double t1 = ThreadSeconds();
        const ViewRange to = ZoomAtColumn(from, FULL_RECORD, view.Columns(), column, WheelZoomFactor(120));
        view.RedrawAll(0, true, record.pointers, FULL_RECORD, 1, to);
        benchmark::ClobberMemory();
        const double t2 = ThreadSeconds();
        full += t1 - t0;
        zoom += t2 - t1;
        state.SetIterationTime(t2 - t1);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["redraw_all_ms"] = full / n * 1e3;
    state.counters["zoom_step_ms"] = zoom / n * 1e3;
    state.counters["ratio"] = zoom / full;
}
BENCHMARK(BM_ZoomStepVsRedrawAll)
    ->Args({364, 0})
    ->Args({727, 0})
    ->Args({364, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Drawing without a record: what RedrawAll costs besides the envelopes.
void BM_RedrawAllEmpty(benchmark::State& state) {
    PlotView view(DefaultPaneGeometry(), QColor(240, 240, 240));
    for (auto _ : state) {
        view.RedrawAll(static_cast<int>(state.range(0)), false, nullptr, FULL_RECORD, 1);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RedrawAllEmpty)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Fonts need a GUI application; the offscreen platform needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
