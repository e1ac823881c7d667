#include "display/primitives.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <functional>
#include <set>
#include <utility>

#include "display/plotview.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;

constexpr Rgb INK{200, 30, 40};

// Paints on a white 20 x 20 image and returns the pixels that changed.
Pixels PaintedBy(const std::function<void(QPainter&)>& draw) {
    QImage image(20, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        draw(painter);
    }
    Pixels painted;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != qRgb(255, 255, 255)) {
                painted.insert({x, y});
            }
        }
    }
    return painted;
}

Pixels Row(int y, int x1, int x2, int stride = 1) {
    Pixels p;
    for (int x = x1; x <= x2; x += stride) {
        p.insert({x, y});
    }
    return p;
}

Pixels Column(int x, int y1, int y2) {
    Pixels p;
    for (int y = y1; y <= y2; ++y) {
        p.insert({x, y});
    }
    return p;
}

Pixels Union(std::initializer_list<Pixels> parts) {
    Pixels all;
    for (const Pixels& p : parts) {
        all.insert(p.begin(), p.end());
    }
    return all;
}

TEST(Primitives, PaintExactlyTheirInclusivePixels) {
    const LinePen solid{INK, 1, false};
    const LinePen dotted{INK, 1, true};
    const LinePen thick{INK, 3, false};
    struct Case {
        const char* name;
        std::function<void(QPainter&)> draw;
        Pixels expected;
    };
    const Case cases[] = {
        {"segment leaves its end point", [&](QPainter& p) { DrawSegment(p, solid, 2, 5, 6, 5); },
         Row(5, 2, 5)},
        {"segment drawn right to left", [&](QPainter& p) { DrawSegment(p, solid, 6, 5, 2, 5); },
         Row(5, 3, 6)},
        {"empty segment", [&](QPainter& p) { DrawSegment(p, solid, 4, 4, 4, 4); }, {}},
        {"slanted segment", [&](QPainter& p) { DrawSegment(p, solid, 1, 1, 4, 4); },
         {{1, 1}, {2, 2}, {3, 3}}},
        {"horizontal line", [&](QPainter& p) { DrawHLine(p, solid, 2, 6, 5); }, Row(5, 2, 6)},
        {"vertical line", [&](QPainter& p) { DrawVLine(p, solid, 4, 3, 7); }, Column(4, 3, 7)},
        {"one-pixel vertical line", [&](QPainter& p) { DrawVLine(p, solid, 4, 9, 9); },
         {{4, 9}}},
        {"vertical line given upside down", [&](QPainter& p) { DrawVLine(p, solid, 4, 7, 3); },
         Column(4, 5, 7)},
        {"dotted from an even start", [&](QPainter& p) { DrawHLine(p, dotted, 2, 8, 5); },
         Row(5, 2, 8, 2)},
        {"dotted from an odd start", [&](QPainter& p) { DrawHLine(p, dotted, 3, 8, 5); },
         Row(5, 3, 7, 2)},
        {"dotted far beyond the surface",
         [&](QPainter& p) { DrawHLine(p, dotted, -1000000000, 1000000000, 3); },
         Row(3, 0, 18, 2)},
        {"three-pixel pen", [&](QPainter& p) { DrawHLine(p, thick, 2, 4, 10); },
         Union({Row(9, 2, 4), Row(10, 2, 4), Row(11, 2, 4)})},
        {"inclusive fill", [&](QPainter& p) { FillRectInclusive(p, {2, 3, 4, 5}, INK); },
         Union({Row(3, 2, 4), Row(4, 2, 4), Row(5, 2, 4)})},
        {"inverted fill", [&](QPainter& p) { FillRectInclusive(p, {4, 3, 2, 5}, INK); }, {}},
        {"frame", [&](QPainter& p) { DrawFrameRect(p, {2, 2, 5, 4}, INK); },
         Union({Row(2, 2, 5), Row(4, 2, 5), Column(2, 2, 4), Column(5, 2, 4)})},
        {"vertical lines stored into the image",
         [&](QPainter& p) {
             const VLine lines[] = {{4, 3, 7}, {6, 9, 9}, {8, 5, 2}};
             DrawVLines(p, solid, lines);
         },
         Union({Column(4, 3, 7), {{6, 9}}})},
        {"vertical lines past the image's edges",
         [&](QPainter& p) {
             const VLine lines[] = {{-1, 0, 5}, {20, 0, 5}, {3, -5, 2}, {5, 18, 40}};
             DrawVLines(p, solid, lines);
         },
         Union({Column(3, 0, 2), Column(5, 18, 19)})},
        {"vertical lines under a clip",
         [&](QPainter& p) {
             p.setClipRect(0, 0, 20, 5);
             const VLine lines[] = {{4, 3, 7}};
             DrawVLines(p, solid, lines);
         },
         Column(4, 3, 4)},
        {"dotted vertical lines",
         [&](QPainter& p) {
             const VLine lines[] = {{4, 3, 8}};
             DrawVLines(p, dotted, lines);
         },
         {{4, 3}, {4, 5}, {4, 7}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PaintedBy(c.draw), c.expected) << c.name;
    }
}

TEST(Primitives, LabelCellEndsJustBeforeItsReferencePoint) {
    const QFont font = MakeLabelFont();
    const QColor background(0, 0, 255);
    for (TextAnchor anchor : {ANCHOR_RIGHT_BOTTOM, ANCHOR_CENTER_BOTTOM, ANCHOR_LEFT_BOTTOM}) {
        QImage image(60, 40, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            DrawLabel(painter, font, 40, 30, anchor, "10V", {0, 0, 0}, background);
        }
        int left = 60;
        int right = -1;
        int top = 40;
        int bottom = -1;
        int ink = 0;
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 60; ++x) {
                if (image.pixel(x, y) == qRgb(255, 255, 255)) {
                    continue;
                }
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                ink += image.pixel(x, y) != background.rgb();
            }
        }
        EXPECT_EQ(bottom, 29) << anchor;
        EXPECT_EQ(bottom - top + 1, QFontMetrics(font).height()) << anchor;
        EXPECT_LE(bottom - top + 1, LABEL_FONT_CELL_HEIGHT) << anchor;
        EXPECT_GT(ink, 0) << anchor;
        if (anchor == ANCHOR_RIGHT_BOTTOM) {
            EXPECT_EQ(right, 39);
        } else if (anchor == ANCHOR_LEFT_BOTTOM) {
            EXPECT_EQ(left, 40);
        } else {
            EXPECT_LE(std::abs((left + right + 1) / 2 - 40), 1);
        }
    }
}

}  // namespace
