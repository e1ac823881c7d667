#include "app/ctestapp.h"

#include <QApplication>

#include <memory>

#include "app/ctestdlg.h"

int CtestApp::InitInstance(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VOS Viewer"));
    // The window holds 32 MB of samples; it lives on the heap at a stable address.
    auto dialog = std::make_unique<CtestDlg>(DeviceBackend::SystemDriver());
    dialog->exec();
    dialog.reset();
    return 0;
}
