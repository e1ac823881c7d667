#include "display/plotview.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace {

const QColor FACE(240, 240, 240);

Rgb PixelAt(const QImage& image, int x, int y) {
    const QRgb p = image.pixel(x, y);
    return {static_cast<std::uint8_t>(qRed(p)), static_cast<std::uint8_t>(qGreen(p)),
            static_cast<std::uint8_t>(qBlue(p))};
}

bool IsFace(const QImage& image, int x, int y) { return image.pixel(x, y) == FACE.rgb(); }

// Four channels of `count` samples, each produced by value(channel, sample).
struct Record {
    std::vector<double> data[4];
    const double* pointers[4];

    template <class F>
    Record(std::uint32_t count, F value) {
        for (int ch = 0; ch < 4; ++ch) {
            data[ch].resize(count);
            for (std::uint32_t s = 0; s < count; ++s) {
                data[ch][s] = value(ch, s);
            }
            pointers[ch] = data[ch].data();
        }
    }
};

class PlotViewTest : public ::testing::Test {
protected:
    std::unique_ptr<PlotView> view = std::make_unique<PlotView>(DefaultPaneGeometry(), FACE);

    const Rect& Plot(int ch) const { return view->Layout().plotRect[ch]; }
};

TEST_F(PlotViewTest, ConstantRecordDrawsOnePixelLineOnItsGridRow) {
    const Record record(10000, [](int, std::uint32_t) { return 5.0; });
    view->RedrawAll(0, true, record.pointers, 10000, 1);
    const QImage image = view->Snapshot();
    for (int ch = 0; ch < 4; ++ch) {
        const Rect& plot = Plot(ch);
        const int row = view->Layout().gridY[ch][5];
        for (int x = plot.left; x <= plot.right; ++x) {
            ASSERT_EQ(PixelAt(image, x, row), ChannelColor(ch)) << ch << " " << x;
            ASSERT_NE(PixelAt(image, x, row - 1), ChannelColor(ch)) << ch << " " << x;
            ASSERT_NE(PixelAt(image, x, row + 1), ChannelColor(ch)) << ch << " " << x;
        }
    }
}

TEST_F(PlotViewTest, SpikeInTheLastSixSamplesShowsInTheLastColumnOnly) {
    // 10,000 samples on 728 columns: the last six are nearest to the half
    // column past the last, which is drawn in the last column (x 881).
    const Record flat(10000, [](int, std::uint32_t) { return 5.0; });
    const Record spike(10000, [](int, std::uint32_t s) { return s >= 9994 ? 10.0 : 5.0; });
    view->RedrawAll(0, true, flat.pointers, 10000, 1);
    const QImage before = view->Snapshot();
    view->RedrawAll(0, true, spike.pointers, 10000, 1);
    const QImage after = view->Snapshot();
    // Pane 0 spans rows 28 .. 161: 5 V on row 94, 10 V on row 39.
    for (int y = 39; y <= 94; ++y) {
        EXPECT_EQ(PixelAt(after, 881, y), ChannelColor(0)) << y;
    }
    EXPECT_NE(PixelAt(after, 881, 38), ChannelColor(0));
    int changed = 0;
    for (int y = 0; y < after.height(); ++y) {
        for (int x = 0; x < after.width(); ++x) {
            if (after.pixel(x, y) != before.pixel(x, y)) {
                ++changed;
                ASSERT_EQ(x, 881) << x << "," << y;
            }
        }
    }
    EXPECT_GT(changed, 4 * 40);
}

TEST_F(PlotViewTest, ZoomedTimeAxisTicksOnMultiplesOfTheVisibleStep) {
    // 1,000 visible samples from 12,345 on: step 100, ticks 12,400 .. 13,300
    // at (sample - 12,345) * 0.728 + 0.5 columns from x 154.
    view->RedrawAll(0, false, nullptr, 100000, 1, ViewRange{12345, 1000});
    const QImage image = view->Snapshot();
    const int ticks[] = {194, 267, 340, 412, 485, 558, 631, 704, 776, 849};
    const Rgb grid{168, 168, 168};
    int gridColumns = 0;
    for (int x = Plot(0).left; x <= Plot(0).right; ++x) {
        const bool tick = std::find(std::begin(ticks), std::end(ticks), x) != std::end(ticks);
        for (int ch = 0; ch < 4; ++ch) {
            EXPECT_EQ(PixelAt(image, x, Plot(ch).top) == grid, tick) << x << " " << ch;
        }
        gridColumns += PixelAt(image, x, Plot(0).top) == grid;
    }
    EXPECT_EQ(gridColumns, 10);
}

// Labels of long records, and labels of ticks in the last column, in the
// real label font: apart from each other, and no ink right of the plots
// (the Summary group's frame stands at x 900).
TEST_F(PlotViewTest, TimeLabelsStayApartAndInsideThePlotsWidth) {
    struct Case {
        std::uint32_t count;
        std::int32_t divider;
        ViewRange range;
    };
    const Case cases[] = {
        {3000000, 10000, {0, 3000000}},   // 1 Hz for 34.7 days
        {1001, 1, {0, 1001}},             // sample 1,000 in the last column
        {3000000, 10000, {2998001, 1000}}, // zoomed, sample 2,999,000 in the last column
        {4000000000u, 1, {0, 4000000000u}},
    };
    const QFontMetrics metrics(view->FontA());
    const auto width = [&](const std::string& text) { return metrics.horizontalAdvance(QString::fromStdString(text)); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        view->RedrawAll(0, false, nullptr, c.count, c.divider, c.range);
        const QImage image = view->Snapshot();
        std::vector<int> baselines{view->Geometry().timeLabelRect.bottom};
        for (int ch = 0; ch < 4; ++ch) {
            baselines.push_back(view->Layout().indexLabelRect[ch].bottom);
        }
        int ink = 0;
        for (const int baseline : baselines) {
            for (int y = baseline - 12; y < baseline; ++y) {
                for (int x = Plot(0).right + 1; x < 900; ++x) {
                    ink += PixelAt(image, x, y) == Rgb{0, 0, 0};
                }
            }
        }
        EXPECT_EQ(ink, 0);
        const std::vector<AxisTick> ticks = view->TimeAxisTicks(c.range, c.count, c.divider);
        ASSERT_GE(ticks.size(), 2u);
        for (std::size_t i = 1; i < ticks.size(); ++i) {
            EXPECT_GT(ticks[i].timeLeft, ticks[i - 1].timeLeft + width(ticks[i - 1].time)) << ticks[i].time;
            EXPECT_GT(ticks[i].indexLeft, ticks[i - 1].indexLeft + width(ticks[i - 1].index)) << ticks[i].index;
        }
    }
}

TEST_F(PlotViewTest, TwoSampleRecordStepsAtTheMiddleColumn) {
    const Record record(2, [](int, std::uint32_t s) { return s == 0 ? 2.0 : 8.0; });
    view->RedrawAll(0, true, record.pointers, 2, 1);
    const QImage image = view->Snapshot();
    const Rect& plot = Plot(1);
    const int y2 = VoltToY(2.0, plot);
    const int y8 = VoltToY(8.0, plot);
    const int step = plot.left + SampleToColumn(1, view->Columns(), 2);
    const Rgb blue = ChannelColor(1);
    for (int y = y8; y <= y2; ++y) {
        EXPECT_EQ(PixelAt(image, step, y), blue) << y;
    }
    EXPECT_EQ(PixelAt(image, step - 1, y2), blue);
    EXPECT_NE(PixelAt(image, step - 1, y8), blue);
    EXPECT_EQ(PixelAt(image, step + 1, y8), blue);
    EXPECT_NE(PixelAt(image, step + 1, y2), blue);
}

TEST_F(PlotViewTest, DisplayChangeTwiceReturnsTheSamePicture) {
    const Record record(12345, [](int ch, std::uint32_t s) { return ch * 2.5 + (s % 97) * 0.05; });
    for (bool dataValid : {false, true}) {
        view->RedrawAll(0, dataValid, record.pointers, 12345, 2);
        const QImage fourPanes = view->Snapshot();
        view->RedrawAll(1, dataValid, record.pointers, 12345, 2);
        const QImage overlay = view->Snapshot();
        view->RedrawAll(0, dataValid, record.pointers, 12345, 2);
        EXPECT_NE(overlay, fourPanes);
        EXPECT_EQ(view->Snapshot(), fourPanes) << dataValid;
    }
}

TEST_F(PlotViewTest, EmptyOverlayShowsElevenVoltLabelsAndTheLegend) {
    view->RedrawAll(1, false, nullptr, 10000, 1);
    const QImage image = view->Snapshot();
    const int left = Plot(0).left;
    const int bottom = Plot(0).bottom;
    for (int k = 0; k <= 10; ++k) {
        // The label's cell ends on row gridY + 5, just left of x = left - 3.
        const int base = view->Layout().gridY[0][k] + 5;
        int ink = 0;
        for (int y = base - 11; y <= base; ++y) {
            for (int x = left - 30; x < left - 3; ++x) {
                ink += PixelAt(image, x, y) == Rgb{0, 0, 0};
            }
        }
        EXPECT_GT(ink, 0) << k << " V";
    }
    const int strokeDy[4] = {-36, -24, -12, 0};
    for (int ch = 0; ch < 4; ++ch) {
        for (int y = bottom + strokeDy[ch] - 1; y <= bottom + strokeDy[ch] + 1; ++y) {
            for (int x = left - 19; x <= left - 6; ++x) {
                ASSERT_EQ(PixelAt(image, x, y), ChannelColor(ch)) << ch << " " << x << "," << y;
            }
        }
    }
    // The space between label rows is left to the background.
    const int gap = (view->Layout().gridY[0][9] + view->Layout().gridY[0][10]) / 2 + 6;
    EXPECT_TRUE(IsFace(image, left - 2, gap));
}

TEST_F(PlotViewTest, FourPaneBackgroundHasFramesGridAndLabels) {
    view->RedrawAll(0, false, nullptr, 0, 1);
    const QImage image = view->Snapshot();
    const Rgb grey{128, 128, 128};
    const Rgb grid{168, 168, 168};
    for (int ch = 0; ch < 4; ++ch) {
        const Rect& frame = view->Layout().frameRect[ch];
        const Rect& plot = Plot(ch);
        EXPECT_EQ(PixelAt(image, frame.left, frame.top), grey);
        EXPECT_EQ(PixelAt(image, frame.right, frame.bottom), grey);
        EXPECT_EQ(PixelAt(image, plot.left + 5, plot.top + 3), (Rgb{0, 0, 0}));
        for (int k = 0; k <= 10; ++k) {
            const int row = view->Layout().gridY[ch][k];
            EXPECT_EQ(PixelAt(image, plot.left, row), grid) << ch << " " << k;
            EXPECT_EQ(PixelAt(image, plot.left + 1, row), (Rgb{0, 0, 0})) << ch << " " << k;
        }
        int ink = 0;  // "CH<n>" left of the 5 V row
        for (int y = view->Layout().gridY[ch][5] - 6; y <= view->Layout().gridY[ch][5] + 5; ++y) {
            for (int x = plot.left - 60; x < plot.left - 22; ++x) {
                ink += PixelAt(image, x, y) == Rgb{0, 0, 0};
            }
        }
        EXPECT_GT(ink, 0) << ch;
    }
    for (int g = 0; g < 4; ++g) {
        const Rect& group = view->Geometry().groupRect[g];
        EXPECT_EQ(PixelAt(image, group.left, group.bottom), grey) << g;
    }
}

TEST_F(PlotViewTest, TimeTicksCarryGridLinesAndLabels) {
    view->RedrawAll(0, false, nullptr, 10000, 1);
    const QImage image = view->Snapshot();
    const Rgb grid{168, 168, 168};
    for (std::uint32_t b = 0; b < 10000; b += 1000) {
        const int x = SampleToX(b, Plot(0), 0, 10000);
        int timeInk = 0;  // the time label above the top pane
        const int top = view->Geometry().timeLabelRect.bottom - 1;
        for (int y = top - 11; y <= top; ++y) {
            for (int dx = -4; dx <= 4; ++dx) {
                timeInk += PixelAt(image, x + dx, y) == Rgb{0, 0, 0};
            }
        }
        EXPECT_GT(timeInk, 0) << b;
        for (int ch = 0; ch < 4; ++ch) {
            EXPECT_EQ(PixelAt(image, x, Plot(ch).top), grid) << b << " " << ch;
            int ink = 0;  // the index label under the plot
            const int base = view->Layout().indexLabelRect[ch].bottom - 1;
            for (int y = base - 11; y <= base; ++y) {
                for (int dx = -4; dx <= 4; ++dx) {
                    ink += PixelAt(image, x + dx, y) == Rgb{0, 0, 0};
                }
            }
            EXPECT_GT(ink, 0) << b << " " << ch;
        }
    }
    // The end of the record gets no tick.
    EXPECT_EQ(PixelAt(image, Plot(0).right, Plot(0).top + 1), (Rgb{0, 0, 0}));
}

// File boundaries and gaps are dotted over the window's copy of the canvas,
// on the plots' background alone: traces and grid stay, the canvas too.
TEST_F(PlotViewTest, RecordMarksDotOnlyThePlotsBackground) {
    // 10,000 samples on 728 columns: sample 2,500 is drawn in column 182,
    // 5,000 in column 364, on the dotted grid line of its tick, whose gaps
    // the mark fills.
    const Record record(10000, [](int, std::uint32_t) { return 5.0; });
    view->RedrawAll(0, true, record.pointers, 10000, 1);
    const QImage canvas = view->Snapshot();
    QImage shown = canvas.copy();
    {
        QPainter painter(&shown);
        const RecordMark marks[] = {{2500, false}, {5000, true}};
        view->DrawRecordMarks(painter, {0, 10000}, marks);
    }
    EXPECT_TRUE(view->Snapshot() == canvas);
    const Rgb back{0, 0, 0};
    const Rgb file{96, 96, 144};
    const Rgb gap{176, 72, 72};
    for (int ch = 0; ch < 4; ++ch) {
        const Rect& plot = Plot(ch);
        const int trace = view->Layout().gridY[ch][5];
        for (const auto& [column, color] : {std::pair{182, file}, std::pair{364, gap}}) {
            const int x = plot.left + column;
            EXPECT_EQ(PixelAt(shown, x, trace), ChannelColor(ch)) << ch << " " << column;
            int dots = 0;
            for (int y = plot.top; y <= plot.bottom; ++y) {
                const Rgb before = PixelAt(canvas, x, y);
                const Rgb after = PixelAt(shown, x, y);
                const bool dotted = before == back && (y - plot.top) % 2 == 1;
                ASSERT_EQ(after, dotted ? color : before) << ch << " " << column << " " << y;
                dots += dotted;
            }
            EXPECT_GT(dots, (plot.bottom - plot.top) / 3) << ch << " " << column;
        }
        for (int y = plot.top; y <= plot.bottom; ++y) {
            ASSERT_EQ(PixelAt(shown, plot.left + 100, y), PixelAt(canvas, plot.left + 100, y)) << y;
        }
    }
    // A view without the marks' samples draws none.
    QImage zoomed = canvas.copy();
    {
        QPainter painter(&zoomed);
        const RecordMark marks[] = {{2500, false}};
        view->DrawRecordMarks(painter, {3000, 1000}, marks);
    }
    EXPECT_TRUE(zoomed == canvas);
}

// The clock axis labels the ticks with the time of day of their samples;
// the default picture keeps the time from the start.
TEST_F(PlotViewTest, AClockAxisLabelsTheTicksWithTheirTimeOfDay) {
    const Record record(10000, [](int, std::uint32_t) { return 5.0; });
    view->RedrawAll(0, true, record.pointers, 10000, 1);
    const QImage fromStart = view->Snapshot();
    // 2026-12-08T02:00:00Z at sample 0, 10 kHz.
    view->SetTimeAxisClock(TimeAxisClock::Utc, [](std::uint64_t s) {
        return std::optional<std::int64_t>(1796695200000000 + static_cast<std::int64_t>(s) * 100);
    });
    EXPECT_EQ(view->TimeAxisTicks({0, 10000}, 10000, 1)[1].time, "0.1 S");
    const std::vector<AxisTick> ticks = view->TimeAxisTicks({0, 10000}, 10000, 1, true);
    ASSERT_EQ(ticks.size(), 10u);
    EXPECT_EQ(ticks[0].time, "02:00:00.0");
    EXPECT_EQ(ticks[9].time, "02:00:00.9");
    view->RedrawAll(0, true, record.pointers, 10000, 1);
    const QImage clock = view->Snapshot();
    EXPECT_FALSE(clock == fromStart);
    // Only the time labels above the top pane differ.
    const int labelsBottom = view->Geometry().timeLabelRect.bottom;
    for (int y = labelsBottom + 1; y < clock.height(); ++y) {
        for (int x = 0; x < clock.width(); ++x) {
            ASSERT_EQ(clock.pixel(x, y), fromStart.pixel(x, y)) << x << " " << y;
        }
    }
    view->SetTimeAxisClock(TimeAxisClock::FromStart, {});
    view->RedrawAll(0, true, record.pointers, 10000, 1);
    EXPECT_TRUE(view->Snapshot() == fromStart);
}

TEST_F(PlotViewTest, EmptyRecordGetsNoTick) {
    view->RedrawAll(0, false, nullptr, 10000, 1);
    const QImage before = view->Snapshot();
    view->DrawLocked([&](QPainter& p) { view->DrawTimeAxis(p, 0, 1); });
    EXPECT_EQ(view->Snapshot(), before);
}

TEST_F(PlotViewTest, LampShowsEachStatesFillColour) {
    view->RedrawAll(0, false, nullptr, 10000, 1);
    const Rect& lamp = view->Geometry().groupRect[4];
    const struct {
        LampState state;
        Rgb fill;
    } cases[] = {
        {LAMP_ACQUISITION, {255, 69, 0}},
        {LAMP_WAITING, {255, 255, 0}},
        {LAMP_STAND_BY, {0, 191, 255}},
    };
    for (const auto& c : cases) {
        view->DrawLocked([&](QPainter& p) { view->DrawStatusLamp(p, c.state); });
        const QImage image = view->Snapshot();
        EXPECT_EQ(PixelAt(image, lamp.left + 2, lamp.top + 2), c.fill) << c.state;
        EXPECT_EQ(PixelAt(image, lamp.right - 1, lamp.bottom - 1), c.fill) << c.state;
        EXPECT_EQ(PixelAt(image, lamp.left, lamp.top), (Rgb{128, 128, 128})) << c.state;
        int ink = 0;
        for (int y = lamp.top + 1; y < lamp.bottom; ++y) {
            for (int x = lamp.left + 1; x < lamp.right; ++x) {
                ink += PixelAt(image, x, y) == Rgb{0, 0, 0};
            }
        }
        EXPECT_GT(ink, 0) << c.state;
    }
    const QImage before = view->Snapshot();
    view->DrawLocked([&](QPainter& p) { view->DrawStatusLamp(p, static_cast<LampState>(7)); });
    EXPECT_EQ(view->Snapshot(), before);
}

TEST_F(PlotViewTest, NaNAndInfiniteSamplesDrawOnTheEdgeRows) {
    constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double INF = std::numeric_limits<double>::infinity();
    const std::uint32_t columns = static_cast<std::uint32_t>(view->Columns());
    const Record record(columns, [](int ch, std::uint32_t) {
        const double values[4] = {NaN, INF, -INF, -NaN};
        return values[ch];
    });
    view->RedrawAll(0, true, record.pointers, columns, 1);
    const QImage image = view->Snapshot();
    const bool onTop[4] = {false, true, false, false};
    for (int ch = 0; ch < 4; ++ch) {
        const Rect& plot = Plot(ch);
        const int row = onTop[ch] ? plot.top : plot.bottom;
        for (int x = plot.left; x <= plot.right; ++x) {
            ASSERT_EQ(PixelAt(image, x, row), ChannelColor(ch)) << ch << " " << x;
        }
    }
}

TEST_F(PlotViewTest, PaintCopiesTheWholeCanvas) {
    const Record record(500, [](int ch, std::uint32_t s) { return ch + s * 0.01; });
    view->RedrawAll(1, true, record.pointers, 500, 5);
    QImage window(view->Canvas().size(), QImage::Format_RGB32);
    window.fill(Qt::red);
    {
        QPainter painter(&window);
        view->PaintTo(painter);
    }
    EXPECT_EQ(window, view->Snapshot());
    EXPECT_EQ(view->Canvas().size(), QSize(1007, 648));
}

TEST_F(PlotViewTest, LiveColumnsTrailTheFinalPictureByOneColumn) {
    // With one sample per column, live column c draws sample c - 1 joined to
    // sample c - 2: the final picture's column c - 1, one pixel further right.
    const std::uint32_t count = static_cast<std::uint32_t>(view->Columns());
    const Record record(count, [](int ch, std::uint32_t s) { return ch + (s % 17) * 0.4; });
    view->RedrawAll(0, false, nullptr, count, 1);
    view->BuildColumnMap(count);
    for (int c = 0; c < view->Columns(); ++c) {
        for (int ch = 0; ch < 4; ++ch) {
            view->UpdateLiveColumn(ch, c, record.pointers[ch]);
        }
        view->DrawLocked([&](QPainter& p) { view->DrawLiveColumn(p, c); });
    }
    const QImage live = view->Snapshot();
    view->RedrawAll(0, true, record.pointers, count, 1);
    const QImage final = view->Snapshot();
    for (int ch = 0; ch < 4; ++ch) {
        const Rect& plot = Plot(ch);
        for (int x = plot.left + 1; x <= plot.right; ++x) {
            for (int y = plot.top; y <= plot.bottom; ++y) {
                ASSERT_EQ(PixelAt(live, x, y) == ChannelColor(ch),
                          PixelAt(final, x - 1, y) == ChannelColor(ch))
                    << ch << " " << x << "," << y;
            }
        }
    }
}

}  // namespace
