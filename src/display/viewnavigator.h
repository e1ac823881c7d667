#pragma once

#include <cstdint>
#include <optional>

#include "display/viewrange.h"

/// Markers A and B on samples of the record shown.
class MarkerPair {
public:
    enum Which { A = 0, B = 1 };

    void Set(Which which, std::uint64_t sample) { m_at[which] = sample; }
    void Clear() {
        m_at[A].reset();
        m_at[B].reset();
    }
    const std::optional<std::uint64_t>& At(Which which) const { return m_at[which]; }
    bool Any() const { return m_at[A] || m_at[B]; }
    /// The samples from A to B, both included, when both are set within a
    /// record of `count` samples.
    std::optional<ViewRange> Between(std::uint64_t count) const {
        if (!m_at[A] || !m_at[B] || *m_at[A] >= count || *m_at[B] >= count) {
            return std::nullopt;
        }
        const std::uint64_t a = *m_at[A];
        const std::uint64_t b = *m_at[B];
        return ViewRange{a < b ? a : b, (a < b ? b - a : a - b) + 1};
    }

private:
    std::optional<std::uint64_t> m_at[2];
};

/// What the window's plots show of a record and how the mouse and keys move
/// it: the visible range, the wheel's zoom, panning by drag and by key, and
/// the markers, set by key and dragged by their lines. Plain C++ over plot
/// columns; the record's count is passed to each call, since a record shown
/// may grow.
class ViewNavigator {
public:
    /// The keys the view takes, as the window maps them.
    enum class Key { ZoomIn, ZoomOut, PanLeft, PanRight, WholeRecord, MarkerA, MarkerB, RemoveMarkers };

    /// What a left-button press on a plot holds until its release.
    enum class Grab { None, View, MarkerA, MarkerB };

    /// A press at most this many columns from a marker's line drags the marker.
    static constexpr std::int32_t GRAB_COLUMNS = 3;

    /// A new record: the whole record, no markers, nothing held.
    void Reset();

    bool Zoomed() const { return m_zoom.has_value(); }
    /// The samples the plots show: the whole record unless zoomed.
    ViewRange Visible(std::uint64_t count) const;
    /// Shows `range` held inside the record; true when the view changed.
    bool Show(ViewRange range, std::uint64_t count);
    /// A wheel turn of `delta` eighths of a degree with the pointer on plot
    /// `column` of `columns` (ZoomAtColumn); true when the view changed.
    bool Wheel(std::uint64_t count, std::int32_t columns, std::int32_t column, int delta);
    /// Zoom in or out around the centre, pan by a tenth, back to the whole
    /// record; set marker A or B at the cursor's sample `cursor` (or the
    /// middle of the visible range without a cursor); remove both markers.
    /// False when the key does nothing here (the zoom-out, pan and
    /// whole-record keys at the whole record, removing absent markers), so
    /// it keeps its usual meaning.
    bool Press(Key key, std::uint64_t count, std::optional<std::uint64_t> cursor);

    const MarkerPair& Markers() const { return m_markers; }
    void SetMarker(MarkerPair::Which which, std::uint64_t sample) { m_markers.Set(which, sample); }
    void ClearMarkers() { m_markers.Clear(); }
    /// The marker whose line in view is nearest to plot `column`, within
    /// GRAB_COLUMNS (A where both are as near): what a press there drags.
    std::optional<MarkerPair::Which> MarkerNear(std::uint64_t count, std::int32_t columns,
                                                std::int32_t column) const;

    /// A left-button press on plot `column`: grabs the marker line near it,
    /// else the view for panning.
    Grab Hold(std::uint64_t count, std::int32_t columns, std::int32_t column);
    Grab Held() const { return m_grab; }
    /// The pointer at `column` (may lie outside the plot) with the button
    /// down: the marker held moves to the sample drawn there (at the plot's
    /// edge beyond it), or the view pans by the columns moved since the press. True when the view or a marker changed.
    bool Drag(std::uint64_t count, std::int32_t columns, std::int32_t column);
    void Release() { m_grab = Grab::None; }

private:
    std::optional<ViewRange> m_zoom;  // empty: the whole record
    MarkerPair m_markers;
    Grab m_grab = Grab::None;
    std::int32_t m_holdColumn = 0;
    ViewRange m_holdRange;
};
