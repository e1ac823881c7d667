#pragma once

#include <QRect>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "acquisition/run.h"
#include "device/d2xx.h"

class PlotView;
class QObject;
class WorkerThreads;

/// The window's side of a Start/Stop run: its steps, each called on the
/// window's thread while the run waits for it, save Repaint, which is queued
/// there. The controller turns the core's events into these steps, in the
/// order of the run, and runs the live view itself.
class AcquisitionWindow {
public:
    virtual ~AcquisitionWindow() = default;

    /// Reads and repairs the settings and prepares the live view's column map.
    virtual AcquisitionSettings ReadSettings() = 0;
    /// The serial number chosen, or none to open the first logger of the family.
    virtual std::optional<std::int32_t> SelectedSerial() = 0;
    /// The settings become the record's.
    virtual void CommitSettings(const AcquisitionSettings& settings) = 0;
    /// Empty panes with the time axis and the lamp at "Stand by".
    virtual void ClearPanes() = 0;
    /// Whether the record shown is valid.
    virtual void SetDataValid(bool valid) = 0;
    /// Caption and summary go back to their empty state.
    virtual void ResetCaptionAndSummary() = 0;
    /// Lamp at "Waiting" (trigger armed) or "Acquisition".
    virtual void StartLiveView(bool triggerArmed) = 0;
    /// The transfer stored `count` samples per channel and ended well.
    virtual void CommitSampleCount(std::uint32_t count) = 0;
    /// Lamp back at "Stand by".
    virtual void ShowStandBy() = 0;
    /// Final envelope, caption and summary of the stored record.
    virtual void ShowRecord() = 0;
    /// Repaints `area` of the window.
    virtual void Repaint(const QRect& area) = 0;
    /// The run failed with `text`; it is still running while the message shows.
    virtual void ShowMessage(const std::string& text) = 0;
    /// The run is over and no longer running: the controls come back.
    virtual void Ended() = 0;
};

/// What one run shows and fills: the window, the plots the live view draws
/// in, the sample bank, the driver (null when it cannot be loaded) and the
/// folder of the run's working file ("" for none kept).
struct AcquisitionTarget {
    AcquisitionWindow* window = nullptr;
    PlotView* view = nullptr;
    double* channels[4] = {};
    std::function<const D2xxApi*()> driver;
    std::string runsFolder;
};

/// Runs one Start/Stop acquisition for the window at a time: the run thread,
/// the stop request and the live view's thread. Only the sample bank and the
/// plots' canvas (under its lock) are written from those threads; the window
/// hears of the run through calls on its own thread.
class AcquisitionController {
public:
    /// `ui` is the window's object, whose thread runs the calls to the
    /// window; `workers` runs the threads.
    AcquisitionController(QObject& ui, WorkerThreads& workers) : m_ui(ui), m_workers(workers) {}

    /// Window's thread: starts a run of `target` on a worker.
    void Start(AcquisitionTarget target);
    /// Asks a run to stop; the transfer ends at its next frame.
    void Stop() { stopRequest = 1; }

    /// Runs the steps of one acquisition on the calling thread (not the
    /// window's): true on success, false with `text` set to the message.
    bool Run(const AcquisitionTarget& target, std::string& text);

    std::atomic<bool> running{false};
    std::atomic<std::int32_t> stopRequest{0};
    std::atomic<std::uint32_t> acquiredCount{0};
    std::atomic<bool> acqFinished{false};
    /// Set, and waited for, by the live view's thread; the run waits on it before "Stand by".
    std::atomic<bool> liveViewEnded{false};
    /// The logger while it is open; written by the run thread, read once it ended.
    FT_HANDLE handle = nullptr;

private:
    class Host;
    void Thread();
    void LiveView(const AcquisitionTarget& target, bool triggerArmed);
    void OnUiThread(const std::function<void()>& call);

    QObject& m_ui;
    WorkerThreads& m_workers;
    AcquisitionTarget m_target;  ///< set by Start, read by the run thread
};
