// The drawing module of vosctl plot: the window's canvas, offscreen, as PNG.
#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QPalette>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/plot_module.h"
#include "display/geometry.h"
#include "display/plotview.h"
#include "record/summaries.h"

namespace {

// Qt's notes about the missing desktop session are no errors of this tool;
// only critical and fatal messages reach standard error.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "vosctl: %s\n", message.toLocal8Bit().constData());
    }
}

// Runs redraw(view) on the window's canvas and returns it as PNG bytes
// allocated with malloc; null when it cannot be encoded.
template <class Redraw>
char* DrawPng(Redraw redraw, std::size_t* size) {
    // The canvas needs Qt's painting but no screen.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(QuietQtMessages);
    int argc = 1;
    char name[] = "vosctl";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);

    PlotView view(DefaultPaneGeometry(), QGuiApplication::palette().color(QPalette::Button));
    redraw(view);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!view.Canvas().save(&buffer, "PNG")) {
        return nullptr;
    }
    char* bytes = static_cast<char*>(std::malloc(static_cast<std::size_t>(png.size())));
    if (bytes != nullptr) {
        std::memcpy(bytes, png.constData(), static_cast<std::size_t>(png.size()));
        *size = static_cast<std::size_t>(png.size());
    }
    return bytes;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) char* VosctlDrawPng(int mode, const double* const* channels,
                                                                      std::uint32_t count, std::int32_t divider,
                                                                      std::size_t* size) {
    static_assert(std::is_same_v<decltype(&VosctlDrawPng), DrawPngFunction>);
    return DrawPng([&](PlotView& view) { view.RedrawAll(mode, true, channels, count, divider); }, size);
}

extern "C" __attribute__((visibility("default"))) char* VosctlDrawSeriesPng(int mode, const SampleSource& source,
                                                                            const SummaryPyramid& summaries,
                                                                            std::size_t* size) {
    static_assert(std::is_same_v<decltype(&VosctlDrawSeriesPng), DrawSeriesPngFunction>);
    return DrawPng([&](PlotView& view) { view.RedrawAll(mode, source, summaries, FullView(source.Count())); },
                   size);
}
