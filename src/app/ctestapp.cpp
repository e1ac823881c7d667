#include "app/ctestapp.h"

#include <QApplication>
#include <QCommandLineParser>

#include <memory>

#include "app/ctestdlg.h"
#include "vos/version.h"

int CtestApp::InitInstance(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VOS Viewer"));
    QApplication::setApplicationVersion(QString::fromUtf8(VOS_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Records and shows the four channels of a VOS-12 or VOS-16 logger."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption driver(
        QStringLiteral("driver"),
        QStringLiteral("Load this D2XX driver library instead of libftd2xx.so from the library search path."),
        QStringLiteral("PATH"));
    parser.addOption(driver);
    parser.process(application);
    const std::string library = parser.isSet(driver) ? parser.value(driver).toStdString() : D2XX_LIBRARY_NAME;
    // The window holds 32 MB of samples; it lives on the heap at a stable address.
    auto dialog = std::make_unique<CtestDlg>(DeviceBackend::SystemDriver(library));
    dialog->exec();
    dialog.reset();
    return 0;
}
