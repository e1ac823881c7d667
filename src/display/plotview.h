#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "display/envelope.h"
#include "display/geometry.h"
#include "display/primitives.h"
#include "display/timeaxis.h"
#include "display/viewrange.h"
#include "record/summaries.h"

/// State shown by the lamp under the Stop button.
enum LampState { LAMP_STAND_BY = 0, LAMP_ACQUISITION = 1, LAMP_WAITING = 2 };

/// Fill colour of each lamp state.
inline constexpr Rgb LAMP_COLORS[3] = {{0, 191, 255}, {255, 69, 0}, {255, 255, 0}};

/// Colour of the cursor line drawn over the plots.
inline constexpr Rgb COLOR_CURSOR{255, 255, 255};
/// Where two files of a series meet, and where the recorder lost samples
/// between them: dim, dotted, under the traces.
inline constexpr Rgb COLOR_FILE_MARK{96, 96, 144};
inline constexpr Rgb COLOR_GAP_MARK{176, 72, 72};

/// Face of both label fonts; installed Japanese Gothic faces stand in for it.
inline constexpr const char* LABEL_FONT_FACE = "MSゴシック";

/// Cell height of the label fonts in pixels.
inline constexpr int LABEL_FONT_CELL_HEIGHT = 12;

/// The label font: the MS Gothic face or the closest installed Japanese
/// Gothic, sized so its cell (ascent + descent) is at most 12 pixels.
QFont MakeLabelFont();

/// The window's off-screen canvas with everything drawn on it: pane layout,
/// grid and labels, time axis, waveform envelopes, the live columns and the
/// state lamp. Worker threads draw through DrawLocked; the window paints with
/// PaintTo. Everything else runs on the window's thread while no worker draws.
class PlotView {
public:
    /// `buttonFace` is the window's button-face colour (its background).
    PlotView(const PaneGeometry& geometry, const QColor& buttonFace);

    PlotView(const PlotView&) = delete;
    PlotView& operator=(const PlotView&) = delete;

    /// Sets frame, plot and index-strip rectangles and grid rows for
    /// mode 0 (four panes) or 1 (one overlay pane).
    void LayoutPanes(int mode);

    /// Everything of the panes that depends neither on samples nor on time.
    void DrawBackground(QPainter& painter) const;

    /// Ticks with time and sample-index labels and the vertical grid of the
    /// full view; a record of 0 samples gets no tick.
    void DrawTimeAxis(QPainter& painter, std::uint32_t sampleCount,
                      std::int32_t clockDivider) const;

    /// The time axis of the visible `range` of a record of `sampleCount`
    /// samples: the ticks of TimeAxisTicks in the label font, each with its
    /// grid line, its time label above the top pane and its sample index
    /// under each plot. The full view draws the form above.
    /// With `clockTime` its time labels tell the clock SetTimeAxisClock set.
    void DrawTimeAxis(QPainter& painter, ViewRange range, std::uint64_t sampleCount,
                      std::int32_t clockDivider, bool clockTime = false) const;

    /// The ticks DrawTimeAxis draws for `range`, left to right.
    std::vector<AxisTick> TimeAxisTicks(ViewRange range, std::uint64_t sampleCount,
                                        std::int32_t clockDivider, bool clockTime = false) const;

    /// Time label above the top pane and sample-index labels under each plot.
    void DrawTimeTick(QPainter& painter, const AxisTick& tick) const;

    /// Dotted vertical grid line at x through every plot.
    void DrawTimeGridLine(QPainter& painter, int x) const;

    /// Fills, outlines and labels the lamp; an unknown state draws nothing.
    void DrawStatusLamp(QPainter& painter, LampState state) const;

    /// Column envelope of one channel's whole record; also indexes the record
    /// for the envelopes of its ranges.
    void BuildEnvelope(int channel, const double* samples, std::uint32_t count);

    /// Column envelope of the visible `range` of one channel's record of
    /// `sampleCount` samples, through the record's index (built here if the
    /// last full envelope was of other samples).
    void BuildEnvelope(int channel, const double* samples, std::uint32_t sampleCount,
                       ViewRange range);

    /// One stroke per column and channel, channel 0 on top.
    void DrawAllColumns(QPainter& painter) const;

    /// Prepares the live view's column map for a record of `count` samples.
    void BuildColumnMap(std::uint32_t count);

    /// Envelope of one live column from the samples received so far.
    void UpdateLiveColumn(int channel, int column, const double* samples);

    /// Draws one live column of all four channels.
    void DrawLiveColumn(QPainter& painter, int column) const;

    /// Relayouts for `mode` and draws the whole canvas: background, time
    /// axis, lamp "Stand by" and, if `dataValid`, the record's envelopes.
    /// Takes no lock: only for the window's thread while no worker draws.
    void RedrawAll(int mode, bool dataValid, const double* const channels[4],
                   std::uint32_t sampleCount, std::int32_t clockDivider);

    /// RedrawAll of the visible `range` (held inside the record): its time
    /// axis and its envelopes, and above the time labels, right-aligned with
    /// the plots, its VisibleSpanText. The full range draws what the form
    /// above does.
    void RedrawAll(int mode, bool dataValid, const double* const channels[4],
                   std::uint32_t sampleCount, std::int32_t clockDivider, ViewRange range);

    /// RedrawAll of the visible `range` of a record held by `source` (a
    /// series of files), read through its `summaries`: the same picture as
    /// from the raw samples, at a cost that does not grow with the record.
    void RedrawAll(int mode, const SampleSource& source, const SummaryPyramid& summaries,
                   ViewRange range);

    /// The time labels' clock of the next RedrawAll, with the UTC of the
    /// shown record's samples; FromStart (the default) labels the time from
    /// the first sample, as a run's own drawing always does. Called on the
    /// window's thread while no worker draws; `utcOf` is called there too.
    void SetTimeAxisClock(TimeAxisClock clock, SampleClock utcOf);
    TimeAxisClock Clock() const { return m_clock; }
    /// The interactive axis's times from the start come from `fromStartOf`
    /// (TimeAxisTicks); none counts samples.
    void SetTimeFromStart(SampleClock fromStartOf) { m_fromStartOf = std::move(fromStartOf); }

    /// Draws the `marks` of the visible `range` (file boundaries and gaps of
    /// a series) over a copy of the canvas (the window's painter, never the
    /// canvas), as dotted lines on the plots' background pixels only: no
    /// trace and no grid line is hidden, and the picture stays as it is.
    void DrawRecordMarks(QPainter& painter, ViewRange range, std::span<const RecordMark> marks) const;

    /// Draws a cursor over a copy of the canvas (the window's painter, never
    /// the canvas): a vertical line at plot column `column` through every
    /// plot and a box with `lines` beside it near the pointer row
    /// `pointerY`, kept inside the plot of that row where it fits.
    void DrawCursor(QPainter& painter, std::int32_t column, int pointerY,
                    const std::vector<std::string>& lines) const;

    /// Runs draw(painter) on the canvas while holding the draw lock. Safe from
    /// any thread; the caller asks for a repaint afterwards.
    template <class F>
    void DrawLocked(F&& draw) {
        std::lock_guard<std::mutex> lock(m_drawLock);
        QPainter painter(&m_canvas);
        draw(painter);
    }

    /// Copies the whole canvas to (0, 0) in one draw under the lock.
    void PaintTo(QPainter& windowPainter) const;

    /// Copy of the canvas taken under the lock.
    QImage Snapshot() const;

    /// The canvas itself; only while no worker draws.
    const QImage& Canvas() const { return m_canvas; }

    const PaneGeometry& Geometry() const { return m_geometry; }
    const PaneLayout& Layout() const { return m_layout; }
    int DisplayMode() const { return m_mode; }
    const ColumnTables& Tables() const { return m_tables; }
    const std::int32_t (&ColumnEnd() const)[MAX_COLUMNS] { return m_columnEnd; }

    /// Pixel columns of the current layout (the same in both modes).
    std::int32_t Columns() const;

    /// Plot column under client point (x, y) in the current layout, or -1
    /// when the point lies outside every plot.
    std::int32_t ColumnAt(int x, int y) const;

    const QFont& FontA() const { return m_fontA; }
    const QFont& FontB() const { return m_fontB; }
    const QColor& ButtonFace() const { return m_buttonFace; }

private:
    /// Layout, background, time axis and lamp of a redraw; the range held
    /// inside the record.
    ViewRange DrawFrame(QPainter& painter, int mode, std::uint64_t sampleCount,
                        std::int32_t clockDivider, ViewRange range);
    void DrawLabelA(QPainter& painter, int x, int y, TextAnchor anchor,
                    const std::string& text) const;

    PaneGeometry m_geometry;
    PaneLayout m_layout{};
    int m_mode = 0;
    ColumnTables m_tables{};
    BlockExtremes m_index[4];
    std::int32_t m_columnEnd[MAX_COLUMNS];
    QImage m_canvas;
    mutable std::mutex m_drawLock;
    QFont m_fontA;
    QFont m_fontB;
    QColor m_buttonFace;
    TimeAxisClock m_clock = TimeAxisClock::FromStart;
    SampleClock m_utcOf;
    SampleClock m_fromStartOf;
};
