#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Widget tests drive real windows; the offscreen platform needs no X server.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The window's runs keep working files in the user's data folder; tests keep theirs apart.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
