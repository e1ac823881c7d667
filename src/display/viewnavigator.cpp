#include "display/viewnavigator.h"

#include <algorithm>
#include <cstdlib>

void ViewNavigator::Reset() {
    m_zoom.reset();
    m_markers.Clear();
    m_grab = Grab::None;
}

ViewRange ViewNavigator::Visible(std::uint64_t count) const {
    return m_zoom ? ClampRange(*m_zoom, count) : FullView(count);
}

bool ViewNavigator::Show(ViewRange range, std::uint64_t count) {
    range = ClampRange(range, count);
    if (range == Visible(count)) {
        return false;
    }
    if (range == FullView(count)) {
        m_zoom.reset();
    } else {
        m_zoom = range;
    }
    return true;
}

bool ViewNavigator::Wheel(std::uint64_t count, std::int32_t columns, std::int32_t column, int delta) {
    if (delta == 0) {
        return false;
    }
    return Show(ZoomAtColumn(Visible(count), count, columns, column, WheelZoomFactor(delta)), count);
}

bool ViewNavigator::Press(Key key, std::uint64_t count, std::optional<std::uint64_t> cursor) {
    const ViewRange range = Visible(count);
    switch (key) {
    case Key::ZoomIn:
        Show(ZoomAround(range, count, 0.5, WheelZoomFactor(120)), count);
        return true;
    case Key::ZoomOut:
    case Key::PanLeft:
    case Key::PanRight:
    case Key::WholeRecord:
        if (!m_zoom) {
            return false;
        }
        Show(key == Key::ZoomOut       ? ZoomAround(range, count, 0.5, WheelZoomFactor(-120))
             : key == Key::WholeRecord ? FullView(count)
                                       : PanBySteps(range, count, key == Key::PanLeft ? -1 : 1),
             count);
        return true;
    case Key::MarkerA:
    case Key::MarkerB:
        if (count == 0) {
            return false;
        }
        m_markers.Set(key == Key::MarkerA ? MarkerPair::A : MarkerPair::B,
                      std::min(cursor.value_or(range.first + range.count / 2), count - 1));
        return true;
    case Key::RemoveMarkers:
        if (!m_markers.Any()) {
            return false;
        }
        m_markers.Clear();
        return true;
    }
    return false;
}

std::optional<MarkerPair::Which> ViewNavigator::MarkerNear(std::uint64_t count, std::int32_t columns,
                                                           std::int32_t column) const {
    const ViewRange range = Visible(count);
    std::optional<MarkerPair::Which> nearest;
    std::int32_t distance = GRAB_COLUMNS + 1;
    for (const MarkerPair::Which which : {MarkerPair::A, MarkerPair::B}) {
        const auto& at = m_markers.At(which);
        if (!at || *at < range.first || *at - range.first >= range.count) {
            continue;
        }
        const std::int32_t away = std::abs(CursorAtSample(range, columns, *at).column - column);
        if (away < distance) {
            distance = away;
            nearest = which;
        }
    }
    return nearest;
}

ViewNavigator::Grab ViewNavigator::Hold(std::uint64_t count, std::int32_t columns, std::int32_t column) {
    const auto marker = MarkerNear(count, columns, column);
    m_grab = !marker ? Grab::View : *marker == MarkerPair::A ? Grab::MarkerA : Grab::MarkerB;
    m_holdColumn = column;
    m_holdRange = Visible(count);
    return m_grab;
}

bool ViewNavigator::Drag(std::uint64_t count, std::int32_t columns, std::int32_t column) {
    switch (m_grab) {
    case Grab::None:
        return false;
    case Grab::View:
        return Show(PanByColumns(m_holdRange, count, columns, column - m_holdColumn), count);
    case Grab::MarkerA:
    case Grab::MarkerB: {
        const ViewRange range = Visible(count);
        if (range.count == 0 || columns < 1) {
            return false;
        }
        const MarkerPair::Which which = m_grab == Grab::MarkerA ? MarkerPair::A : MarkerPair::B;
        const std::uint64_t sample = CursorAtColumn(range, columns, std::clamp(column, 0, columns - 1)).sample;
        if (m_markers.At(which) == sample) {
            return false;
        }
        m_markers.Set(which, sample);
        return true;
    }
    }
    return false;
}
