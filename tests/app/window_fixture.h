#pragma once

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ctestdlg.h"
#include "display/geometry.h"
#include "sim/sim.h"

/// Answers the window's dialogs from a script and records its message boxes.
class ScriptedPrompts : public UiPrompts {
public:
    struct Script {
        std::deque<QString> fileNames;  ///< answers of file dialogs; empty = cancel
        std::vector<QString> messages;  ///< texts of the message boxes shown
        std::vector<Icon> icons;
        int fileDialogs = 0;
        std::vector<QString> filters;
        std::function<void()> onMessage;     ///< runs while a message box would be open
        std::function<void()> onFileDialog;  ///< runs while a file dialog would be open
        std::deque<int> choices;             ///< answers of questions; empty = the last button
        std::vector<QString> questions;      ///< texts of the questions asked
        std::vector<int> defaults;           ///< their default buttons
        bool realOpenDialog = false;         ///< Open shows the real dialog instead of answering
        std::function<void()> onQuestion;    ///< runs while a question would be open
    };

    explicit ScriptedPrompts(std::shared_ptr<Script> script) : m_script(std::move(script)) {}

    QString AskSaveFileName(QWidget*, const QString& filter, const QString&) override { return Next(filter); }
    /// One answer names one file, or several joined by '\n'.
    QStringList AskOpenFileNames(QWidget* parent, const QString& filter, const QString& suffix) override {
        if (m_script->realOpenDialog) {
            ++m_script->fileDialogs;
            return UiPrompts::AskOpenFileNames(parent, filter, suffix);
        }
        const QString names = Next(filter);
        return names.isEmpty() ? QStringList() : names.split(QLatin1Char('\n'));
    }
    void ShowMessage(QWidget*, const QString& text, const QString&, Icon icon) override {
        m_script->messages.push_back(text);
        m_script->icons.push_back(icon);
        if (m_script->onMessage) {
            m_script->onMessage();
        }
    }

    int AskChoice(QWidget*, const QString& text, const QString&, const QStringList& buttons, int defaultButton) override {
        m_script->questions.push_back(text);
        m_script->defaults.push_back(defaultButton);
        if (m_script->onQuestion) {
            m_script->onQuestion();
        }
        if (m_script->choices.empty()) {
            return static_cast<int>(buttons.size()) - 1;
        }
        const int choice = m_script->choices.front();
        m_script->choices.pop_front();
        return choice;
    }

private:
    QString Next(const QString& filter) {
        ++m_script->fileDialogs;
        m_script->filters.push_back(filter);
        if (m_script->onFileDialog) {
            m_script->onFileDialog();
        }
        if (m_script->fileNames.empty()) {
            return {};
        }
        QString name = m_script->fileNames.front();
        m_script->fileNames.pop_front();
        return name;
    }

    std::shared_ptr<Script> m_script;
};

/// A window on the in-process simulated logger (or on no driver at all).
class WindowTest : public ::testing::Test {
protected:
    void MakeWindow(const vossim::SimConfig& config, bool driverPresent = true) {
        vossim::Install(config);
        DeviceBackend backend;
        backend.probe = [driverPresent] { return driverPresent; };
        backend.api = [api = driverApi]() -> const D2xxApi* { return api != nullptr ? api : &vossim::Api(); };
        dlg = std::make_unique<CtestDlg>(std::move(backend), std::make_unique<ScriptedPrompts>(script));
        dlg->show();
        dlg->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    }

    void TearDown() override {
        if (dlg) {
            // A run a failed test left behind is stopped before the window goes.
            dlg->OnStop();
            WaitIdle();
            dlg.reset();
        }
    }

    /// Pumps events until the window has no worker left (at most `ms`).
    bool WaitIdle(int ms = 60000) {
        QElapsedTimer timer;
        timer.start();
        while (dlg->WorkersRunning() || dlg->m_running.load()) {
            if (timer.elapsed() > ms) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        QCoreApplication::processEvents();
        return true;
    }

    /// Pumps events until `condition` holds (at most `ms`).
    template <class F>
    bool PumpUntil(F condition, int ms = 30000) {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > ms) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    /// Pixels of channel `ch`'s colour inside the plot of pane `pane`.
    int TracePixels(int ch, int pane = 0) {
        const QImage image = dlg->View().Snapshot();
        const Rect& plot = dlg->View().Layout().plotRect[pane];
        const Rgb color = ChannelColor(ch);
        const QRgb wanted = qRgb(color.r, color.g, color.b);
        int count = 0;
        for (int y = plot.top; y <= plot.bottom; ++y) {
            for (int x = plot.left; x <= plot.right; ++x) {
                count += (image.pixel(x, y) & 0xFFFFFF) == (wanted & 0xFFFFFF) ? 1 : 0;
            }
        }
        return count;
    }

    static vossim::SimConfig InstantConfig() {
        vossim::SimConfig config = vossim::DefaultConfig();
        config.pace = vossim::Pace::Instant;
        return config;
    }

    std::shared_ptr<ScriptedPrompts::Script> script = std::make_shared<ScriptedPrompts::Script>();
    /// The driver MakeWindow gives the window; null for the simulator's own.
    const D2xxApi* driverApi = nullptr;
    std::unique_ptr<CtestDlg> dlg;
};
