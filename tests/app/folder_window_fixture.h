#pragma once

#include <QCommandLineParser>
#include <QTemporaryDir>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/ctestapp.h"
#include "window_fixture.h"

/// A window on the instant simulated logger with a folder of its own for
/// the files it opens and writes, and for the summary cache.
class FolderWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // The summaries are cached here, never in the user's cache folder.
        ::setenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toLocal8Bit().constData(), 1);
        MakeWindow(InstantConfig());
    }
    void TearDown() override {
        WindowTest::TearDown();
        ::unsetenv("XDG_CACHE_HOME");
    }

    /// `name` in the test's folder.
    std::string Prefix(const char* name) const { return dir.filePath(QString::fromUtf8(name)).toStdString(); }

    /// Opens `paths` as `vosviewer FILE...` does.
    void OpenFromCommandLine(const std::vector<std::string>& paths) {
        QStringList arguments{QStringLiteral("vosviewer")};
        for (const std::string& path : paths) {
            arguments << QString::fromStdString(path);
        }
        QCommandLineParser parser;
        AddFileArguments(parser);
        ASSERT_TRUE(parser.parse(arguments));
        OpenFileArguments(*dlg, parser);
        ASSERT_TRUE(WaitIdle());
    }

    QTemporaryDir dir;
};
