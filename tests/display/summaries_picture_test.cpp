// Drawn through the summaries, a series gives the picture of its raw samples.
#include <gtest/gtest.h>

#include <QImage>
#include <QPalette>

#include <memory>

#include "display/envelope.h"
#include "display/plotview.h"
#include "record/three_file_series.h"

// The envelope through the summaries equals the one from the raw samples,
// column for column, for views across file boundaries and the last column's
// half, with cells that do and do not divide the files' lengths.
TEST(SummariesTest, EnvelopeEqualsTheRawEnvelopeAtEveryZoom) {
    Series series;
    SeriesSource source;
    ASSERT_EQ(source.Open(series.paths), FileError::None);
    const Rect plot = DefaultPaneGeometry().paneInner[0];
    const std::int32_t w = EnvelopeColumns(plot);
    struct Row {
        SummaryShape shape;
        ViewRange view;
    };
    const Row rows[] = {
        {{4, 4, 3}, {0, 3200}},     {{4, 4, 3}, {990, 20}},    {{4, 4, 3}, {400, 1300}},
        {{3, 5, 3}, {0, 3200}},     {{3, 5, 3}, {2497, 11}},   {{3, 5, 3}, {1, 3199}},
        {{256, 16, 4}, {0, 3200}},  {{4, 4, 3}, {3190, 10}},   {{4, 4, 3}, {2000, 1200}},
        {{2, 2, 6}, {999, 1502}},   {{7, 3, 4}, {13, 2999}},   {{4, 4, 3}, {2499, 2}},
    };
    auto raw = std::make_unique<ColumnTables>();
    auto summed = std::make_unique<ColumnTables>();
    for (const Row& row : rows) {
        const SummaryPyramid p = Summarise(source, row.shape, 2);
        for (int ch = 0; ch < 4; ++ch) {
            BuildEnvelope(*raw, ch, series.all[ch].data(), row.view.first, row.view.count, plot);
            BuildEnvelope(*summed, ch, source, p, row.view.first, row.view.count, plot);
            for (std::int32_t c = 0; c < w; ++c) {
                ASSERT_EQ(raw->minY[ch][c], summed->minY[ch][c]) << row.view.first << " " << c;
                ASSERT_EQ(raw->maxY[ch][c], summed->maxY[ch][c]) << row.view.first << " " << c;
                ASSERT_EQ(raw->lastY[ch][c], summed->lastY[ch][c]) << row.view.first << " " << c;
            }
        }
    }
}

TEST(SummariesTest, PictureEqualsTheRawPicturePixelForPixel) {
    Series series;
    SeriesSource source;
    ASSERT_EQ(source.Open(series.paths), FileError::None);
    const SummaryPyramid p = Summarise(source, SummaryShape{4, 4, 3}, 2);
    const double* raw[4] = {series.all[0].data(), series.all[1].data(), series.all[2].data(),
                            series.all[3].data()};
    const QColor face = QPalette().color(QPalette::Button);
    PlotView fromRaw(DefaultPaneGeometry(), face);
    PlotView fromSummaries(DefaultPaneGeometry(), face);
    const ViewRange views[] = {{0, 3200}, {900, 1200}, {995, 10}, {2400, 800}, {2499, 3}, {3150, 50}};
    for (int mode = 0; mode < 2; ++mode) {
        for (const ViewRange& view : views) {
            fromRaw.RedrawAll(mode, true, raw, 3200, 10, view);
            fromSummaries.RedrawAll(mode, source, p, view);
            ASSERT_TRUE(fromRaw.Canvas() == fromSummaries.Canvas()) << mode << " " << view.first;
        }
    }
}

