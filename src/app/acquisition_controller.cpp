#include "app/acquisition_controller.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

#include "acquisition/run_journal.h"
#include "app/workers.h"
#include "display/liveview.h"
#include "display/plotview.h"
#include "display/primitives.h"

// The core's events as the window's steps, each handed to the window's
// thread; the run waits for every one, so the window sees them in the order of
// the run. The wait for the live view is the window's: the core never waits.
class AcquisitionController::Host : public AcquisitionHost {
public:
    Host(AcquisitionController& controller, const AcquisitionTarget& target)
        : m_controller(controller), m_target(target), m_window(*target.window) {}

    AcquisitionSettings ReadSettings() override {
        AcquisitionSettings settings;
        m_controller.OnUiThread([&] { settings = m_window.ReadSettings(); });
        return settings;
    }

    std::optional<std::int32_t> SelectedSerial() override {
        std::optional<std::int32_t> serial;
        m_controller.OnUiThread([&] { serial = m_window.SelectedSerial(); });
        return serial;
    }

    void Started(const AcquisitionSettings& settings, bool triggerArmed) override {
        m_controller.OnUiThread([&] { m_window.CommitSettings(settings); });
        m_controller.OnUiThread([this] { m_window.ClearPanes(); });
        m_controller.OnUiThread([this] { m_window.SetDataValid(false); });
        m_controller.liveViewEnded.store(false);
        m_controller.OnUiThread([this] { m_window.ResetCaptionAndSummary(); });
        m_controller.OnUiThread([&] { m_window.StartLiveView(triggerArmed); });
        // The live view keeps its own copy: the run may return as soon as it sees liveViewEnded.
        AcquisitionController* controller = &m_controller;
        m_controller.m_workers.Start(
            [controller, target = m_target, triggerArmed] { controller->LiveView(target, triggerArmed); });
    }

    void Ended(const AcquisitionOutcome& outcome) override {
        if (!outcome.failed) {
            m_controller.OnUiThread([&] { m_window.CommitSampleCount(outcome.stored); });
        }
        // Bounded: the live view tests acqFinished, set before this event, at every poll.
        m_controller.liveViewEnded.wait(false);
        m_controller.OnUiThread([this] { m_window.ShowStandBy(); });
        if (outcome.failed) {
            m_controller.OnUiThread([this] { m_window.ClearPanes(); });
        } else if (outcome.stored > 0) {
            m_controller.OnUiThread([this] { m_window.ShowRecord(); });
            m_controller.OnUiThread([this] { m_window.SetDataValid(true); });
        }
    }

private:
    AcquisitionController& m_controller;
    const AcquisitionTarget& m_target;
    AcquisitionWindow& m_window;
};

void AcquisitionController::Start(AcquisitionTarget target) {
    running = true;
    stopRequest = 0;
    m_target = std::move(target);
    m_workers.Start([this] { Thread(); });
}

bool AcquisitionController::Run(const AcquisitionTarget& target, std::string& text) {
    Host host(*this, target);
    const AcquisitionFlags flags{stopRequest, acquiredCount, acqFinished, liveViewEnded};
    const D2xxApi* api = target.driver ? target.driver() : nullptr;
    // A run kept on disk while it goes can be recovered should the program not live to end it.
    RunJournal journal(target.runsFolder);
    return RunAcquisitionSteps(api, host, target.channels, flags, handle, text, &journal);
}

void AcquisitionController::Thread() {
    std::string text;
    AcquisitionWindow& window = *m_target.window;
    if (!Run(m_target, text)) {
        OnUiThread([&] { window.ShowMessage(text); });
    }
    running = false;
    OnUiThread([&] { window.Ended(); });
}

void AcquisitionController::LiveView(const AcquisitionTarget& target, bool triggerArmed) {
    // The live view draws only inside the panes and the lamp; repainting just
    // that keeps the controls from being painted again for every column.
    const PaneGeometry& geometry = target.view->Geometry();
    const QRect area = ToQRect(geometry.paneOuterAll).united(ToQRect(geometry.groupRect[4]));
    AcquisitionWindow* window = target.window;
    LiveViewLoop(*target.view, target.channels, triggerArmed, acquiredCount, acqFinished, liveViewEnded,
                 [this, window, area] {
                     QMetaObject::invokeMethod(&m_ui, [window, area] { window->Repaint(area); }, Qt::QueuedConnection);
                 });
    liveViewEnded.notify_all();
}

void AcquisitionController::OnUiThread(const std::function<void()>& call) { CallOnThreadOf(m_ui, call); }
