#include "display/primitives.h"

#include <QFontMetrics>
#include <QImage>
#include <QPaintDevice>
#include <QPen>
#include <QPoint>
#include <QString>
#include <QVector>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

// Offset of a thick pen's band from the line: a 3-pixel pen covers the
// line's row (or column) and one on each side.
int BandStart(int width) { return (width - 1) / 2; }

// A run of a thick pen widens across the line only; a single pixel of a
// dotted or slanted line becomes a square.
void FillPixels(QPainter& painter, const LinePen& pen, const QColor& color, int x, int y, int w,
                int h) {
    const int width = std::max(pen.width, 1);
    const bool widenX = h > 1 || w == 1;
    const bool widenY = w > 1 || h == 1;
    painter.fillRect(widenX ? x - BandStart(width) : x, widenY ? y - BandStart(width) : y,
                     widenX ? w + width - 1 : w, widenY ? h + width - 1 : h, color);
}

// Pixels first .. last inclusive along one axis, painted from `start`; a
// dotted pen paints the pixels an even distance from `start`.
void DrawAxisRun(QPainter& painter, const LinePen& pen, bool horizontal, int fixed,
                 std::int64_t first, std::int64_t last, std::int64_t start) {
    const QColor color = ToQColor(pen.color);
    const QPaintDevice* device = painter.device();
    const std::int64_t extent = device ? (horizontal ? device->width() : device->height()) : 0;
    const std::int64_t margin = std::max(pen.width, 1);
    first = std::max<std::int64_t>(first, -margin);
    last = std::min<std::int64_t>(last, extent + margin);
    if (first > last) {
        return;
    }
    if (!pen.dotted) {
        const int length = static_cast<int>(last - first + 1);
        if (horizontal) {
            FillPixels(painter, pen, color, static_cast<int>(first), fixed, length, 1);
        } else {
            FillPixels(painter, pen, color, fixed, static_cast<int>(first), 1, length);
        }
        return;
    }
    if (std::llabs(first - start) % 2 != 0) {
        ++first;
    }
    if (pen.width > 1) {
        for (std::int64_t i = first; i <= last; i += 2) {
            const int at = static_cast<int>(i);
            FillPixels(painter, pen, color, horizontal ? at : fixed, horizontal ? fixed : at, 1, 1);
        }
        return;
    }
    QVector<QPoint> points;
    points.reserve(static_cast<int>((last - first) / 2 + 1));
    for (std::int64_t i = first; i <= last; i += 2) {
        const int at = static_cast<int>(i);
        points.append(horizontal ? QPoint(at, fixed) : QPoint(fixed, at));
    }
    painter.save();
    QPen qpen(color);
    qpen.setWidth(0);
    painter.setPen(qpen);
    painter.drawPoints(points.constData(), static_cast<int>(points.size()));
    painter.restore();
}

// Bresenham from (x1, y1) up to but excluding (x2, y2).
void DrawSlantedSegment(QPainter& painter, const LinePen& pen, int x1, int y1, int x2, int y2) {
    const QColor color = ToQColor(pen.color);
    const std::int64_t dx = std::llabs(std::int64_t{x2} - x1);
    const std::int64_t dy = -std::llabs(std::int64_t{y2} - y1);
    const int sx = x1 < x2 ? 1 : -1;
    const int sy = y1 < y2 ? 1 : -1;
    std::int64_t error = dx + dy;
    int x = x1;
    int y = y1;
    for (std::int64_t step = 0; x != x2 || y != y2; ++step) {
        if (!pen.dotted || step % 2 == 0) {
            FillPixels(painter, pen, color, x, y, 1, 1);
        }
        const std::int64_t twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += sx;
        }
        if (twice <= dx) {
            error += dx;
            y += sy;
        }
    }
}

}  // namespace

QColor ToQColor(Rgb color) { return QColor(color.r, color.g, color.b); }

Rgb ToRgb(const QColor& color) {
    return {static_cast<std::uint8_t>(color.red()), static_cast<std::uint8_t>(color.green()),
            static_cast<std::uint8_t>(color.blue())};
}

QRect ToQRect(const Rect& r) { return QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom)); }

void DrawSegment(QPainter& painter, const LinePen& pen, int x1, int y1, int x2, int y2) {
    if (y1 == y2 && x1 != x2) {
        const std::int64_t last = x2 > x1 ? std::int64_t{x2} - 1 : std::int64_t{x2} + 1;
        DrawAxisRun(painter, pen, true, y1, std::min<std::int64_t>(x1, last),
                    std::max<std::int64_t>(x1, last), x1);
    } else if (x1 == x2 && y1 != y2) {
        const std::int64_t last = y2 > y1 ? std::int64_t{y2} - 1 : std::int64_t{y2} + 1;
        DrawAxisRun(painter, pen, false, x1, std::min<std::int64_t>(y1, last),
                    std::max<std::int64_t>(y1, last), y1);
    } else if (x1 != x2) {
        DrawSlantedSegment(painter, pen, x1, y1, x2, y2);
    }
}

void DrawHLine(QPainter& painter, const LinePen& pen, int x1, int x2, int y) {
    DrawSegment(painter, pen, x1, y, x2 + 1, y);
}

void DrawVLine(QPainter& painter, const LinePen& pen, int x, int y1, int y2) {
    DrawSegment(painter, pen, x, y1, x, y2 + 1);
}

namespace {

// The image a painter draws on when plain pixel stores give what it would
// paint: an opaque solid colour, no clip, no transformation, 32-bit pixels.
QImage* DirectTarget(QPainter& painter, const LinePen& pen) {
    if (!painter.isActive() || pen.dotted || pen.width != 1 || painter.hasClipping() ||
        !painter.deviceTransform().isIdentity() ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
        painter.device()->devType() != QInternal::Image) {
        return nullptr;
    }
    auto* image = static_cast<QImage*>(painter.device());
    const QImage::Format format = image->format();
    const bool plain = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                       format == QImage::Format_ARGB32_Premultiplied;
    // A shared image would be copied by the first store, away from the painter.
    return plain && image->isDetached() ? image : nullptr;
}

}  // namespace

void DrawVLines(QPainter& painter, const LinePen& pen, std::span<const VLine> lines) {
    QImage* image = DirectTarget(painter, pen);
    if (image == nullptr) {
        for (const VLine& line : lines) {
            if (line.y1 <= line.y2) {
                DrawVLine(painter, pen, line.x, line.y1, line.y2);
            }
        }
        return;
    }
    const QRgb value = qRgb(pen.color.r, pen.color.g, pen.color.b);
    uchar* const bits = image->bits();
    const qsizetype stride = image->bytesPerLine();
    const int width = image->width();
    const int height = image->height();
    for (const VLine& line : lines) {
        if (line.x < 0 || line.x >= width) {
            continue;
        }
        const int first = std::max(line.y1, 0);
        const int last = std::min(line.y2, height - 1);
        uchar* column = bits + static_cast<qsizetype>(line.x) * 4;
        for (int y = first; y <= last; ++y) {
            *reinterpret_cast<QRgb*>(column + y * stride) = value;
        }
    }
}

void FillRectInclusive(QPainter& painter, const Rect& rect, Rgb color) {
    if (rect.right < rect.left || rect.bottom < rect.top) {
        return;
    }
    painter.fillRect(rect.left, rect.top, rect.right - rect.left + 1, rect.bottom - rect.top + 1,
                     ToQColor(color));
}

void DrawFrameRect(QPainter& painter, const Rect& rect, Rgb color) {
    const LinePen pen{color, 1, false};
    DrawVLine(painter, pen, rect.left, rect.top, rect.bottom);
    DrawVLine(painter, pen, rect.right, rect.top, rect.bottom);
    DrawHLine(painter, pen, rect.left, rect.right, rect.top);
    DrawHLine(painter, pen, rect.left, rect.right, rect.bottom);
}

void DrawLabel(QPainter& painter, const QFont& font, int x, int y, TextAnchor anchor,
               std::string_view text, Rgb color, const QColor& background) {
    const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(qtext);
    const int height = metrics.height();
    int left = x - width / 2;
    if (anchor == ANCHOR_RIGHT_BOTTOM) {
        left = x - width;
    } else if (anchor == ANCHOR_LEFT_BOTTOM) {
        left = x;
    }
    const int top = y - height;
    painter.save();
    painter.fillRect(left, top, width, height, background);
    painter.setFont(font);
    painter.setPen(ToQColor(color));
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.drawText(QPoint(left, top + metrics.ascent()), qtext);
    painter.restore();
}
