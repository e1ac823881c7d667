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

namespace {

// Qt's notes about the missing desktop session are no errors of this tool;
// only critical and fatal messages reach standard error.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "vosctl: %s\n", message.toLocal8Bit().constData());
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) char* VosctlDrawPng(int mode, const double* const* channels,
                                                                      std::uint32_t count, std::int32_t divider,
                                                                      std::size_t* size) {
    static_assert(std::is_same_v<decltype(&VosctlDrawPng), DrawPngFunction>);
    // The canvas needs Qt's painting but no screen.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(QuietQtMessages);
    int argc = 1;
    char name[] = "vosctl";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);

    PlotView view(DefaultPaneGeometry(), QGuiApplication::palette().color(QPalette::Button));
    view.RedrawAll(mode, true, channels, count, divider);
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
