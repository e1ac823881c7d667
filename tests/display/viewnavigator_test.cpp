#include "display/viewnavigator.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

// The window's plots have 728 columns; a record of 728 samples draws sample
// s in column s at the whole record.
constexpr std::int32_t W = 728;
constexpr std::uint64_t N = 728;

using Key = ViewNavigator::Key;
using Grab = ViewNavigator::Grab;

TEST(ViewNavigator, KeysZoomPanAndSetOrRemoveMarkers) {
    struct Case {
        const char* what;
        bool zoomedFirst;  // one ZoomIn before the key
        bool markersFirst;  // A on 100 and B on 300 before the key
        Key key;
        std::optional<std::uint64_t> cursor;
        bool used;
        ViewRange visible;
        std::optional<std::uint64_t> a;
        std::optional<std::uint64_t> b;
    };
    const Case cases[] = {
        {"in around the centre", false, false, Key::ZoomIn, {}, true, {73, 582}, {}, {}},
        {"out at the whole record keeps the key's meaning", false, false, Key::ZoomOut, {}, false, {0, 728}, {}, {}},
        {"left at the whole record", false, false, Key::PanLeft, {}, false, {0, 728}, {}, {}},
        {"home at the whole record", false, false, Key::WholeRecord, {}, false, {0, 728}, {}, {}},
        {"right by a tenth", true, false, Key::PanRight, {}, true, {131, 582}, {}, {}},
        {"home from a zoom", true, false, Key::WholeRecord, {}, true, {0, 728}, {}, {}},
        {"A at the cursor", false, false, Key::MarkerA, 42, true, {0, 728}, 42, {}},
        {"B in the middle of the visible range", true, false, Key::MarkerB, {}, true, {73, 582}, {}, 364},
        {"A moves to the cursor", false, true, Key::MarkerA, 500, true, {0, 728}, 500, 300},
        {"remove both", false, true, Key::RemoveMarkers, {}, true, {0, 728}, {}, {}},
        {"remove none keeps the key's meaning", false, false, Key::RemoveMarkers, {}, false, {0, 728}, {}, {}},
    };
    for (const Case& c : cases) {
        ViewNavigator view;
        if (c.zoomedFirst) {
            ASSERT_TRUE(view.Press(Key::ZoomIn, N, std::nullopt)) << c.what;
        }
        if (c.markersFirst) {
            view.SetMarker(MarkerPair::A, 100);
            view.SetMarker(MarkerPair::B, 300);
        }
        EXPECT_EQ(view.Press(c.key, N, c.cursor), c.used) << c.what;
        EXPECT_EQ(view.Visible(N), c.visible) << c.what;
        EXPECT_EQ(view.Markers().At(MarkerPair::A), c.a) << c.what;
        EXPECT_EQ(view.Markers().At(MarkerPair::B), c.b) << c.what;
    }
}

TEST(ViewNavigator, APressNearAMarkerLineDragsTheMarkerNeverTheView) {
    struct Case {
        const char* what;
        std::int32_t press;
        std::int32_t to;
        Grab grab;
        ViewRange visible;  // of the zoomed view {73, 582}
        std::uint64_t a;     // A starts on 200, drawn in column 159
        std::uint64_t b;     // B starts on 364, drawn in column 364
    };
    const Case cases[] = {
        {"on A's line", 159, 400, Grab::MarkerA, {73, 582}, 393, 364},
        {"three columns left of A", 156, 400, Grab::MarkerA, {73, 582}, 393, 364},
        {"three columns right of B", 367, 10, Grab::MarkerB, {73, 582}, 200, 81},
        {"beyond the plot's left edge", 160, -50, Grab::MarkerA, {73, 582}, 73, 364},
        {"beyond the plot's right edge", 160, 900, Grab::MarkerA, {73, 582}, 654, 364},
        {"four columns away pans", 155, 255, Grab::View, {0, 582}, 200, 364},
        {"far from both pans, up to the record's end", 600, 500, Grab::View, {146, 582}, 200, 364},
    };
    for (const Case& c : cases) {
        ViewNavigator view;
        view.Press(Key::ZoomIn, N, std::nullopt);
        view.SetMarker(MarkerPair::A, 200);
        view.SetMarker(MarkerPair::B, 364);
        EXPECT_EQ(view.Hold(N, W, c.press), c.grab) << c.what;
        view.Drag(N, W, c.to);
        view.Release();
        EXPECT_EQ(view.Held(), Grab::None) << c.what;
        EXPECT_FALSE(view.Drag(N, W, c.press)) << c.what << ": nothing moves after the release";
        EXPECT_EQ(view.Visible(N), c.visible) << c.what;
        EXPECT_EQ(view.Markers().At(MarkerPair::A), c.a) << c.what;
        EXPECT_EQ(view.Markers().At(MarkerPair::B), c.b) << c.what;
    }
}

TEST(ViewNavigator, ANewRecordShowsItWholeWithoutMarkers) {
    ViewNavigator view;
    view.Press(Key::ZoomIn, N, std::nullopt);
    view.SetMarker(MarkerPair::A, 5);
    view.Hold(N, W, 5);
    view.Reset();
    EXPECT_FALSE(view.Zoomed());
    EXPECT_FALSE(view.Markers().Any());
    EXPECT_EQ(view.Held(), Grab::None);
    EXPECT_EQ(view.Visible(N), (ViewRange{0, 728}));
    // A marker outside the visible range has no line to grab.
    view.SetMarker(MarkerPair::A, 5);
    view.Press(Key::ZoomIn, N, std::nullopt);
    EXPECT_EQ(view.MarkerNear(N, W, 0), std::nullopt);
}

}  // namespace
