#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <span>
#include <string_view>

#include "display/geometry.h"

/// A line pen: solid or dotted (every other pixel, counted from the start
/// point of each segment), `width` pixels thick, centred on the line.
struct LinePen {
    Rgb color;
    int width = 1;
    bool dotted = false;
};

inline constexpr LinePen PEN_OUTLINE{COLOR_OUTLINE, 1, false};
inline constexpr LinePen PEN_GRID{COLOR_GRID, 1, true};

/// Converts to a Qt colour.
QColor ToQColor(Rgb color);

/// Converts from a Qt colour, dropping its alpha.
Rgb ToRgb(const QColor& color);

/// The Qt rectangle of an inclusive Rect.
QRect ToQRect(const Rect& r);

/// Paints from (x1, y1) toward (x2, y2); the end point itself is not painted.
/// All drawing is aliased and pixel-exact.
void DrawSegment(QPainter& painter, const LinePen& pen, int x1, int y1, int x2, int y2);

/// Pixels x1 .. x2 inclusive of row y.
void DrawHLine(QPainter& painter, const LinePen& pen, int x1, int x2, int y);

/// Pixels y1 .. y2 inclusive of column x.
void DrawVLine(QPainter& painter, const LinePen& pen, int x, int y1, int y2);

/// Pixels y1 .. y2 inclusive of column x (y1 <= y2).
struct VLine {
    int x = 0;
    int y1 = 0;
    int y2 = 0;
};

/// DrawVLine for each line in turn; a line with y1 > y2 paints nothing. A
/// solid 1-pixel pen on a 32-bit image without clipping or transformation is
/// written straight into the image's pixels, which is many times faster than
/// one fill per line and paints the same pixels.
void DrawVLines(QPainter& painter, const LinePen& pen, std::span<const VLine> lines);

/// Solid fill of left .. right and top .. bottom, all inclusive.
void FillRectInclusive(QPainter& painter, const Rect& rect, Rgb color);

/// One-pixel solid outline on the rectangle's four inclusive edges.
void DrawFrameRect(QPainter& painter, const Rect& rect, Rgb color);

/// Where a label's text cell sits relative to its reference point.
enum TextAnchor {
    ANCHOR_RIGHT_BOTTOM,   ///< cell ends just left of x and just above y
    ANCHOR_CENTER_BOTTOM,  ///< cell centred on x, ending just above y
    ANCHOR_LEFT_BOTTOM,    ///< cell starting at x, ending just above y
};

/// Draws UTF-8 `text` opaque: its whole cell (advance width x font height)
/// is filled with `background`, then the glyphs are drawn in `color`.
void DrawLabel(QPainter& painter, const QFont& font, int x, int y, TextAnchor anchor,
               std::string_view text, Rgb color, const QColor& background);
