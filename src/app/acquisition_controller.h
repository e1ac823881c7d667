#pragma once

#include <QRect>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "acquisition/run.h"
#include "device/d2xx.h"

class PlotView;
class QObject;
class WorkerThreads;

/// The window's side of a Start/Stop run: the core's steps, each called on
/// the window's thread while the run waits for it, save Repaint, which is
/// queued there. StartLiveView only shows the lamp: the controller runs the
/// live view itself.
class AcquisitionWindow : public AcquisitionHost {
public:
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
