#include "app/ctestapp.h"

#include <QApplication>

#include <memory>

#include "app/ctestdlg.h"
#include "files/file.h"

int CtestApp::InitInstance(int argc, char** argv) {
    // A save into a closed pipe or past the file-size limit must fail with a
    // message, not end the program with an unsaved recording.
    IgnoreFileSignals();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VOS Viewer"));
    // The window holds 32 MB of samples; it lives on the heap at a stable address.
    auto dialog = std::make_unique<CtestDlg>(DeviceBackend::SystemDriver());
    dialog->exec();
    dialog.reset();
    return 0;
}
