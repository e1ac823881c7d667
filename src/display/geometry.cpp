#include "display/geometry.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "numtext/numtext.h"

namespace {

constexpr Rgb CHANNEL_COLORS[4] = {
    {255, 255, 0},
    {25, 135, 229},
    {255, 0, 255},
    {0, 255, 0},
};

// Rounds a * num / den to nearest, halves away from zero, as the window
// system's dialog-unit conversion does.
std::int32_t MulDivRound(std::int64_t a, std::int64_t num, std::int64_t den) {
    const std::int64_t product = a * num;
    const std::int64_t magnitude = (std::llabs(product) * 2 + den) / (den * 2);
    return static_cast<std::int32_t>(product < 0 ? -magnitude : magnitude);
}

Rect Shrink(const Rect& r) { return {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}; }

struct VoltScale {
    double scale;
    double offset;
};

// -1 V on the bottom row, 11 V on the top row.
VoltScale ScaleOf(const Rect& plot) {
    const double top = plot.top;
    const double height = static_cast<double>(plot.bottom) - top;
    return {height * -1.0 / 12.0, top + height * (11.0 / 12.0) + 0.5};
}

// Truncation toward zero, held inside the int32 range so that absurd
// rectangles or counts cannot make the conversion undefined.
std::int32_t TruncToInt32(double v) {
    constexpr double LOW = std::numeric_limits<std::int32_t>::min();
    constexpr double HIGH = std::numeric_limits<std::int32_t>::max();
    if (!(v > LOW)) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (!(v < HIGH)) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(v);
}

const char* const UNIT_TEXT[4] = {"nS", "uS", "mS", "S"};
// Places the decimal point moves for each unit.
constexpr int UNIT_SHIFT[4] = {0, 3, 6, 9};

std::uint32_t TimeUnit(std::int64_t totalNs) {
    if (totalNs < 1000) {
        return 0;
    }
    if (totalNs < 1000000) {
        return 1;
    }
    return totalNs < 1000000000 ? 2 : 3;
}

}  // namespace

Rgb ChannelColor(int channel) { return CHANNEL_COLORS[static_cast<unsigned>(channel) % 4u]; }

PaneGeometry MakePaneGeometry(const Rect& client, const Rect (&paneFrames)[4],
                              const Rect (&groupFrames)[5]) {
    PaneGeometry g;
    g.clientRect = client;
    for (int i = 0; i < 4; ++i) {
        g.paneOuter[i] = paneFrames[i];
        g.paneInner[i] = Shrink(paneFrames[i]);
    }
    g.timeLabelRect = {client.left, g.paneInner[0].top - 15, client.right, g.paneInner[0].top - 2};
    g.paneOuterAll = {g.paneOuter[0].left, g.paneOuter[0].top, g.paneOuter[0].right,
                      g.paneOuter[3].bottom};
    g.paneInnerAll = {g.paneInner[0].left, g.paneInner[0].top, g.paneInner[0].right,
                      g.paneInner[3].bottom};
    for (int i = 0; i < 5; ++i) {
        g.groupRect[i] = groupFrames[i];
    }
    return g;
}

PixelPoint DialogUnitsToPixels(int x, int y) { return {MulDivRound(x, 6, 4), MulDivRound(y, 12, 8)}; }

Rect DialogRectToPixels(int x, int y, int w, int h) {
    const PixelPoint topLeft = DialogUnitsToPixels(x, y);
    const PixelPoint bottomRight = DialogUnitsToPixels(x + w, y + h);
    return {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

PaneGeometry DefaultPaneGeometry() {
    const PixelPoint size = DialogUnitsToPixels(DIALOG_WIDTH_DU, DIALOG_HEIGHT_DU);
    const Rect client{0, 0, size.x, size.y};
    const Rect panes[4] = {
        DialogRectToPixels(102, 18, 486, 90),
        DialogRectToPixels(102, 120, 486, 90),
        DialogRectToPixels(102, 222, 486, 90),
        DialogRectToPixels(102, 324, 486, 90),
    };
    const Rect groups[5] = {
        DialogRectToPixels(6, 18, 66, 72),
        DialogRectToPixels(6, 120, 66, 294),
        DialogRectToPixels(600, 54, 66, 228),
        DialogRectToPixels(600, 300, 66, 114),
        DialogRectToPixels(12, 384, 54, 18),
    };
    return MakePaneGeometry(client, panes, groups);
}

void LayoutPanes(const PaneGeometry& geometry, int mode, PaneLayout& layout) {
    for (int i = 0; i < 4; ++i) {
        if (mode == 0) {
            layout.frameRect[i] = geometry.paneOuter[i];
            layout.plotRect[i] = geometry.paneInner[i];
        } else {
            layout.frameRect[i] = geometry.paneOuterAll;
            layout.plotRect[i] = geometry.paneInnerAll;
        }
        const std::int32_t below = layout.plotRect[i].bottom;
        layout.indexLabelRect[i] = {geometry.clientRect.left, below + 2, geometry.clientRect.right,
                                    below + 15};
        ComputeGridY(layout, i);
    }
}

void ComputeGridY(PaneLayout& layout, int channel) {
    const VoltScale s = ScaleOf(layout.plotRect[channel]);
    for (int k = 0; k <= 10; ++k) {
        layout.gridY[channel][k] = TruncToInt32(k * s.scale + s.offset);
    }
}

std::int32_t VoltToY(double volts, const Rect& plot) {
    // Written so that NaN fails the first test and lands with -1 V: a NaN
    // must never reach the conversion to an integer.
    double v = volts;
    if (!(v >= -1.0)) {
        v = -1.0;
    } else if (v > 11.0) {
        v = 11.0;
    }
    const VoltScale s = ScaleOf(plot);
    return TruncToInt32(v * s.scale + s.offset);
}

std::int32_t PlotColumns(const Rect& plot) {
    const std::int64_t columns = std::int64_t{plot.right} - plot.left + 1;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        columns, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int32_t SampleToColumn(std::uint64_t sample, std::int32_t columns, std::uint64_t count) {
    if (count == 0) {
        return 0;
    }
    const double perSample = static_cast<double>(columns) / static_cast<double>(count);
    return TruncToInt32(static_cast<double>(sample) * perSample + 0.5);
}

std::int32_t DrawnColumn(std::uint64_t sample, std::int32_t columns, std::uint64_t count) {
    return std::min(SampleToColumn(sample, columns, count), std::max(columns - 1, 0));
}

std::int32_t SampleToX(std::uint64_t sample, const Rect& plot0, std::uint64_t first,
                       std::uint64_t count) {
    return plot0.left + DrawnColumn(sample - first, PlotColumns(plot0), count);
}

std::int64_t SampleTimeNs(std::int32_t clockDivider, std::uint64_t sample) {
    const std::int64_t period = static_cast<std::int64_t>(clockDivider) * 100000;
    std::int64_t ns = 0;
    if (__builtin_mul_overflow(period, sample, &ns)) {
        return period < 0 ? std::numeric_limits<std::int64_t>::min()
                          : std::numeric_limits<std::int64_t>::max();
    }
    return ns;
}

std::string FormatTimeLabel(std::int64_t ns, std::int64_t totalNs) {
    const std::uint32_t unit = TimeUnit(totalNs);
    std::string number;
    FormatScaled(ns, number, unit);
    return number + " " + UNIT_TEXT[unit];
}

std::string FormatTimeLabel(std::int64_t ns, std::int64_t totalNs, int decimals) {
    const std::uint32_t unit = TimeUnit(totalNs);
    std::string number;
    FormatScaled(ns, number, unit);
    const std::size_t point = number.find('.');
    int shown = point == std::string::npos ? 0 : static_cast<int>(number.size() - point - 1);
    if (decimals > 0 && point == std::string::npos) {
        number += '.';
    }
    for (; shown < decimals; ++shown) {
        number += '0';
    }
    return number + " " + UNIT_TEXT[unit];
}

int TimeLabelDecimals(std::int64_t stepNs, std::int64_t totalNs) {
    int decimals = UNIT_SHIFT[TimeUnit(totalNs)];
    while (decimals > 0 && stepNs != 0 && stepNs % 10 == 0) {
        stepNs /= 10;
        --decimals;
    }
    return stepNs == 0 ? 0 : decimals;
}

std::uint64_t TimeTickStep(std::uint64_t sampleCount) {
    std::uint64_t digit = sampleCount >= 10 ? sampleCount / 10 : 1;
    std::uint64_t power = 1;
    while (digit >= 10) {
        digit /= 10;
        power *= 10;
    }
    std::uint64_t rounded = 10;
    if (digit == 1) {
        rounded = 1;
    } else if (digit <= 3) {
        rounded = 2;
    } else if (digit <= 7) {
        rounded = 5;
    }
    return rounded * power;
}
