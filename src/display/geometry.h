#pragma once

#include <cstdint>
#include <string>

/// Client-pixel rectangle. Drawing primitives treat right and bottom as inside
/// the figure; width and height are right - left and bottom - top.
struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    /// For rectangles inside the client area.
    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

/// 8-bit RGB colour.
struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb COLOR_PLOT_BACK{0, 0, 0};
inline constexpr Rgb COLOR_OUTLINE{128, 128, 128};
inline constexpr Rgb COLOR_GRID{168, 168, 168};
inline constexpr Rgb COLOR_LABEL_TEXT{0, 0, 0};

/// Trace colour of channel 0..3 (yellow, blue, magenta, green); other values
/// wrap onto these four.
Rgb ChannelColor(int channel);

/// Rectangles fixed when the window is initialised.
struct PaneGeometry {
    Rect clientRect;
    Rect paneOuter[4];
    Rect paneInner[4];  ///< paneOuter shrunk by one pixel on every side
    Rect paneOuterAll;  ///< pane 0's left, top, right with pane 3's bottom
    Rect paneInnerAll;
    Rect timeLabelRect; ///< its bottom is the baseline of the time labels
    Rect groupRect[5];  ///< Device, Settings & Acquisition, Summary, File groups, then the lamp
};

/// Derives the inner, combined and time-label rectangles from the client
/// rectangle and the frame placeholders of the four panes and five groups.
PaneGeometry MakePaneGeometry(const Rect& client, const Rect (&paneFrames)[4],
                              const Rect (&groupFrames)[5]);

/// Pixel position of a dialog-unit point: x * 6 / 4 and y * 12 / 8, each
/// rounded to nearest with halves away from zero (the template font's metrics).
struct PixelPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};
PixelPoint DialogUnitsToPixels(int x, int y);

/// Pixel rectangle of a template control at (x, y) of size w x h dialog units;
/// right and bottom are converted from x + w and y + h.
Rect DialogRectToPixels(int x, int y, int w, int h);

/// Client size of the main window in dialog units.
inline constexpr int DIALOG_WIDTH_DU = 671;
inline constexpr int DIALOG_HEIGHT_DU = 432;

/// The real window's geometry: client 1007 x 648 pixels, panes and groups
/// converted from their template rectangles.
PaneGeometry DefaultPaneGeometry();

/// Rectangles and grid rows of one display mode.
struct PaneLayout {
    Rect frameRect[4];
    Rect plotRect[4];
    Rect indexLabelRect[4];     ///< bottom is the baseline of the sample-index labels
    std::int32_t gridY[4][11];  ///< y pixel of the k-volt grid row
};

/// Mode 0 gives every channel its own pane; any other mode puts all four into
/// one pane spanning panes 0 to 3.
void LayoutPanes(const PaneGeometry& geometry, int mode, PaneLayout& layout);

/// Fills layout.gridY[channel] from layout.plotRect[channel].
void ComputeGridY(PaneLayout& layout, int channel);

/// Row of a voltage on a plot spanning -1 V (bottom row) to 11 V (top row).
/// Values outside that range sit on the edge rows; NaN sits on the bottom row.
std::int32_t VoltToY(double volts, const Rect& plot);

/// Pixel columns of a plot: width + 1.
std::int32_t PlotColumns(const Rect& plot);

/// Nearest of `columns` columns for a sample of a record of `count` samples;
/// may return `columns` (the spare slot) for the last half column's samples.
/// A record of 0 samples maps everything to column 0.
std::int32_t SampleToColumn(std::uint64_t sample, std::int32_t columns, std::uint64_t count);

/// The column a sample is drawn in: SampleToColumn with the spare slot
/// folded into the last column.
std::int32_t DrawnColumn(std::uint64_t sample, std::int32_t columns, std::uint64_t count);

/// x pixel of a time tick at `sample` of a view showing `count` samples from
/// `first` on (the full view: 0 and the record's count), measured on channel
/// 0's plot rectangle; the half column past the last folds into the last.
std::int32_t SampleToX(std::uint64_t sample, const Rect& plot0, std::uint64_t first,
                       std::uint64_t count);

/// Elapsed time of a sample in nanoseconds; the sampling period is
/// clockDivider * 100 us. Saturates instead of overflowing.
std::int64_t SampleTimeNs(std::int32_t clockDivider, std::uint64_t sample);

/// Time label "<number> <unit>" of a tick at `ns`, in the unit (nS, uS, mS, S)
/// chosen by the duration `totalNs` of the whole record.
std::string FormatTimeLabel(std::int64_t ns, std::int64_t totalNs);

/// FormatTimeLabel with exactly `decimals` digits after the point (no point
/// for 0), for labels that must all show as many.
std::string FormatTimeLabel(std::int64_t ns, std::int64_t totalNs, int decimals);

/// Decimals that time labels at multiples of `stepNs` need in the unit
/// chosen by `totalNs`.
int TimeLabelDecimals(std::int64_t stepNs, std::int64_t totalNs);

/// Samples between time ticks: 1, 2 or 5 times a power of ten, giving 8 to 20
/// ticks from 10 samples on.
std::uint64_t TimeTickStep(std::uint64_t sampleCount);
