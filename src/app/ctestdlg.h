#pragma once

#include <QDialog>
#include <QIcon>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/acquisition_controller.h"
#include "app/markers.h"
#include "app/prompts.h"
#include "app/shown_record.h"
#include "app/workers.h"
#include "acquisition/record.h"
#include "device/d2xx.h"
#include "device/driver.h"
#include "display/plotview.h"
#include "display/viewnavigator.h"
#include "files/dlf.h"
#include "record/follow.h"
#include "record/samplesource.h"
#include "record/summaries.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
struct LeftoverRun;
class RecordController;
class RecordingFollower;
class RecordDialog;
class QTimer;
class QPushButton;
class UpDownControl;

/// Where the window finds the D2XX driver: a probe run once at start, and the
/// function table used from Search and Start on (null when it cannot be had).
struct DeviceBackend {
    std::function<bool()> probe;
    std::function<const D2xxApi*()> api;

    /// The D2XX library `library` (a file name or a path); by default FTDI's
    /// libftd2xx.so through the system's library search path.
    static DeviceBackend SystemDriver(const std::string& library = D2XX_LIBRARY_NAME);
};

/// Where the working files of the window's runs live:
/// $XDG_DATA_HOME/vosviewer/runs (~/.local/share/vosviewer/runs); "" when unknown.
QString RunsFolder();

/// Samples per channel the window can hold.
inline constexpr std::uint32_t CHANNEL_CAPACITY = 1000000;

/// The main window: the state record of the program and every user operation.
class CtestDlg : public QDialog {
    Q_OBJECT

public:
    explicit CtestDlg(DeviceBackend backend, std::unique_ptr<UiPrompts> prompts = nullptr,
                      QWidget* parent = nullptr);
    ~CtestDlg() override;

    // --- settings panel ---------------------------------------------------
    void EnableControls(bool enable);
    void ShowSettings();
    void ShowClockDivider(std::int32_t divider);
    void ShowSampleCount(std::int32_t count);
    void ShowTriggerChannel(std::uint8_t channel);
    void ShowTriggerType(std::uint8_t type);
    void ShowThreshold(double volts);
    std::uint32_t ReadSampleCount();
    double ReadThreshold();
    std::uint8_t ReadTriggerChannel();
    std::uint8_t ReadTriggerType();

    // --- handlers -----------------------------------------------------------
    void OnSearch();
    void OnStart();
    void OnStop();
    void OnTriggerCheck();
    void OnOpen();
    void OnSave();
    void OnCsvSave();
    void OnDisplayChange();
    void OnCountChange();
    void OnClockChange();
    void OnSysCommand(int command);

    // --- operations behind the buttons ---------------------------------------
    bool SearchDevices(std::string& text);
    bool RunAcquisition(std::string& text);
    bool SaveDataFile(std::string& message);
    bool LoadDataFile(std::string& message);
    /// Opens `paths` as Open opens what its dialog returns: one file as a
    /// data file, several as one record in the order given.
    void OpenFiles(const QStringList& paths);
    /// The same for names as the file system has them: bytes, which need not be UTF-8.
    void OpenFileNames(const std::vector<std::string>& names);
    /// Cancels a summary build: the record shown stays as it is.
    void OnCancelSummaries();
    /// Cancels a series' CSV-Save: an existing file keeps its old content.
    void OnCancelExport();
    /// Asks about each run that a previous program did not live to end and
    /// whose working file is left in RunsFolder() (ctestdlg_runs.cpp).
    void OfferLeftoverRuns();
    /// The part CSV-Save and Save of a part write: the samples between the
    /// markers, both included, when both are set, else the visible range.
    ViewRange ExportPart() const;
    /// Asks about one left run; Recover shows the whole series when `wholeSeries`.
    void OfferRun(const LeftoverRun& run, bool wholeSeries);

    // --- display --------------------------------------------------------------
    void RedrawAll(int mode);
    void UpdateSummary();
    void ClearSummary();
    void UpdateCaption();
    void ResetCaption();

    /// Samples per channel of the record shown: the whole series' when one is
    /// shown, else m_sampleCount.
    std::uint64_t RecordCount() const;
    /// The series shown (null for a record in memory) and the one whose
    /// summaries are being built (null unless a build runs).
    const std::shared_ptr<ShownSeries>& Series() const { return m_shown.Series(); }
    const std::shared_ptr<ShownSeries>& PendingSeries() const { return m_pending; }

    // --- zoom, pan, cursor and the picture (ctestdlg_view.cpp) -----------------
    /// The samples the plots show: the whole record unless zoomed.
    ViewRange VisibleRange() const;
    /// The cursor readout's lines; empty while no cursor is shown.
    QStringList CursorReadout() const;
    /// Where the files of the record shown meet, as the plots mark them; none
    /// while the record is one file or the view is not interactive.
    std::vector<RecordMark> RecordMarks() const;
    /// VisibleSpanText while zoomed, as drawn above the plots; empty at full view.
    QString VisibleSpan() const;
    /// The context menu: the system menu's items, a separator, then Full view,
    /// "Save picture" and "Copy picture"; the go-to items of each channel's
    /// maximum and minimum; setting marker A or B at the cursor, removing
    /// them and the measurements window; enabled for the window's state.
    QMenu* ContextMenu();
    void OnFullView();
    void OnSavePicture();
    void OnCopyPicture();
    /// Centres the visible range on the largest (or smallest) value of
    /// `channel` in it, the first where several are equal, and sets the
    /// cursor there; nothing when the range holds no number.
    void OnGoToExtreme(int channel, bool maximum);
    /// The lines of the measurements window: Markers::Readout of the record
    /// shown; empty while the record cannot be read (a run, no record).
    QStringList MeasurementReadout();
    /// Opens the measurements window (markers, Δt and statistics).
    void ShowMeasurements();

    // --- recording to files (ctestdlg_record.cpp) ---------------------------------
    /// "Record to files…": opens the recording dialog (RecordDialog).
    void OnRecordToFiles();
    /// True while a recording to files runs; the controls are disabled as during a run.
    bool Recording() const;
    /// The recording dialog; null until first opened.
    RecordDialog* RecordFilesDialog() const { return m_recordDialog; }

    // --- a running recording shown as it grows (ctestdlg_follow.cpp) -------------
    /// Shows the recording of the series `prefix` so far and follows it until it ends.
    bool FollowRecording(const QString& prefix, std::string& message);
    /// The same for a prefix as the file system has it: bytes, which need not be UTF-8.
    bool FollowRecording(const std::string& prefix, std::string& message);
    /// True while a running recording is followed.
    bool Following() const;
    /// The followed recording's status line ("Recording running: …",
    /// "Recording ended: …"); empty while none is shown.
    QString FollowStatusText() const;
    RecordingFollower* Follower() const { return m_follower; }

    /// True while a worker thread (acquisition, live view, CSV export) runs.
    bool WorkersRunning() const { return m_workers.Active() > 0; }
    /// The system menu's Close item state (also governs the close box and Escape).
    bool CloseEnabled() const { return m_closeEnabled; }
    /// The context menu that stands in for the window's system menu.
    QMenu* SystemMenu() const { return m_systemMenu; }
    PlotView& View() { return *m_view; }

    // --- the state record (read by the worker threads and by tests) ------------
    QIcon m_hIcon;
    QComboBox* m_comboSerial = nullptr;
    QPushButton* m_btnSearch = nullptr;
    QFrame* m_paneFrame[4] = {};
    QComboBox* m_comboClock = nullptr;
    QLineEdit* m_editCount = nullptr;
    UpDownControl* m_spinCount = nullptr;
    QLineEdit* m_editTotalTime = nullptr;
    QPushButton* m_btnStart = nullptr;
    QPushButton* m_btnStop = nullptr;
    QCheckBox* m_checkTrigger = nullptr;
    QComboBox* m_comboTrigCh = nullptr;
    QComboBox* m_comboTrigType = nullptr;
    QLineEdit* m_editThreshold = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QPushButton* m_btnCancel = nullptr;  ///< shown while a series' summaries are built
    QPushButton* m_btnSave = nullptr;
    QComboBox* m_comboCsvCh = nullptr;
    QPushButton* m_btnCsvSave = nullptr;
    QProgressBar* m_progress = nullptr;
    QFrame* m_groupFrame[5] = {};
    QLabel* m_status[8] = {};
    QPushButton* m_btnDisplayChange = nullptr;

    std::string m_initMarker;
    QString m_baseCaption;
    QString m_appTitle;
    QString m_fileName;

    /// The Start/Stop run; the run's words below are its own, named as the window names them.
    AcquisitionController m_acquisition{*this, m_workers};
    FT_HANDLE& m_hDevice = m_acquisition.handle;
    std::int32_t m_serials[127] = {};

    /// The channel buffers shown and saved; they point into one of two banks
    /// allocated once, so that a failed Open never touches the record shown.
    double* m_channelData[4] = {};
    bool m_dataValid = false;

    std::int32_t m_clockDivider = 1;
    std::int32_t m_sampleCount = 10000;
    std::uint8_t m_triggerChannel = 0;
    std::uint8_t m_triggerType = 0xFF;
    double m_threshold = 0.0;

    std::atomic<bool>& m_running = m_acquisition.running;
    std::atomic<std::int32_t>& m_stopRequest = m_acquisition.stopRequest;
    std::atomic<std::uint32_t>& m_acquiredCount = m_acquisition.acquiredCount;
    std::atomic<bool>& m_acqFinished = m_acquisition.acqFinished;
    std::atomic<bool>& m_liveViewEnded = m_acquisition.liveViewEnded;
    std::atomic<bool> m_exportCancel{false};  ///< set by Cancel while a series is exported

    bool m_displayMode = false;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void reject() override;

private:
    friend class AcquisitionWindowHost;
    /// What a run shows and fills: this window, its plots and bank, the driver.
    AcquisitionTarget RunTarget();
    std::unique_ptr<AcquisitionWindow> NewAcquisitionWindow();
    std::unique_ptr<AcquisitionWindow> m_acquisitionWindow;
    friend class ExportJob;

    void CreateControls();
    void OnInitDialog();
    void RunBusy(const std::function<bool(std::string&)>& operation, QWidget* focus);
    void ShowMessage(const std::string& text);
    /// Thread-safe: asks the window to repaint `area` (all of it when empty).
    void RequestRepaint(const QRect& area = QRect());

    /// Runs `call` on the window's thread and waits for it, as a control call
    /// from a worker thread is delivered to the window and waited for.
    void OnUiThread(const std::function<void()>& call);

    // Zoom, pan and cursor (ctestdlg_view.cpp).
    void CreateViewActions();
    /// No run and no worker thread: the record is the window's alone.
    bool Idle() const;
    bool ViewInteractive() const;
    void ApplyRange(ViewRange range);
    /// Redraws the plots and the measurements for a new visible range.
    void ViewChanged();
    /// The pointer's shape over plot `column` (-1: off the plots): a
    /// double arrow where a press would drag a marker line.
    void ShowMarkerPointer(std::int32_t column);
    /// Back to the whole record without redrawing; true if it was zoomed.
    bool DropZoom();
    void UpdateCursor(const QPoint& pointer);
    /// Reads the cursor again at the last pointer position, if one is shown.
    void RefreshCursor();
    void DropCursor();
    void PaintCursor(QPainter& painter) const;
    /// Lines of the markers in view, drawn over the window like the cursor.
    void PaintMarkers(QPainter& painter) const;
    /// The shown series' file boundaries and gaps in view, drawn over the
    /// window under the traces.
    void PaintRecordMarks(QPainter& painter) const;
    /// Labels the time axis with `clock` and redraws.
    void SetTimeAxisClock(TimeAxisClock clock);
    /// Puts marker `which` where the cursor was when the context menu opened.
    void SetMarker(MarkerPair::Which which);
    void MarkersChanged();
    void UpdateMeasurements();
    /// The pointer entering a control, and the zoom and pan keys; true when
    /// the event is used up.
    bool ViewEvent(QObject* watched, QEvent* event);
    /// `+`/`-` zoom around the centre, Left/Right pan, Home back to the whole
    /// record, `a`/`b` set a marker, `x`/Delete remove both; true when `key`
    /// did one of them.
    bool ViewKey(int key);

    /// The context menu's "Record to files…", enabled while the window is idle.
    QAction* RecordAction();
    /// The window's logger and settings for a recording, and the driver; null with `why` when none.
    const D2xxApi* RecordSettings(RecordOptions& options, QString& why);
    /// Whether closing may go on: a running recording is stopped, its files kept, when the user says so.
    bool AskCloseWhileRecording();

    void CreateFollowControls();
    /// Follows the recording of `prefix`; with `wait`, one that has not started yet is waited for.
    bool StartFollowing(const std::string& prefix, const FollowedRecording::Options& options, bool wait,
                        std::string& message);
    /// The followed recording is shown: its settings in the panel, Save once it has a sample.
    void OnFollowBegun();
    /// Follows the window's own recording to files once it can be read.
    void FollowOwnRecording();
    /// The followed record grew to `count`: the view at its end moves with it.
    void OnRecordAppended(std::uint64_t count);
    /// The view, the markers and the cursor of the ended recording of `count` samples stay when its
    /// series is shown in its place.
    void KeepViewForSeries(std::uint64_t count);
    /// Offers Recover for the recording of `prefix` that ended without closing its files (ctestdlg_runs.cpp).
    void OfferLeftoverRecording(const std::string& prefix);

    // A series of files as one record (ctestdlg_series.cpp).
    void CreateSeriesControls();
    /// Opens one data file into the spare bank and shows it (the Open steps).
    bool LoadOneFile(const std::string& path, std::string& message);
    /// Opens exactly the files `paths` name: one as a data file, several as
    /// one record in the order given; a refused series names the two files
    /// that do not belong together after the message.
    bool OpenNamed(const std::vector<std::string>& paths, std::string& message);
    /// Checks that `paths` form one record and starts building its summaries;
    /// the record shown changes only when the build is done.
    bool OpenSeries(const std::vector<std::string>& paths, std::string& message);
    void FinishSeries(const std::shared_ptr<ShownSeries>& series, SummaryResult result);
    /// Restores the settings of `header` and shows the record of `count`
    /// samples named `name`, as the Open steps do.
    void ShowLoadedRecord(const DataFileHeader& header, std::uint64_t count, const QString& name);
    /// Save stays off, with a tooltip saying why, for a record one data file cannot hold.
    void OfferSave(bool enable);
    /// Says, once per series shown and after the redraw in progress, that a
    /// file of the shown series could not be read (it is drawn as a gap).
    void SaySeriesReadError();
    /// Replaces the value lines of cursor readout `lines` whose channel
    /// cannot be read at `sample` of the shown series.
    void MarkUnreadable(std::vector<std::string>& lines, std::uint64_t sample);

    /// Shows (or hides) Cancel beside a shortened progress bar while a
    /// series is exported.
    void ShowExportCancel(bool show);

    DeviceBackend m_backend;
    std::unique_ptr<UiPrompts> m_prompts;
    std::unique_ptr<PlotView> m_view;
    std::unique_ptr<double[]> m_banks;
    double* m_spareData[4] = {};
    QMenu* m_systemMenu = nullptr;
    QAction* m_closeAction = nullptr;
    bool m_closeEnabled = true;
    QPoint m_heldPosition;
    WorkerThreads m_workers;
    ShownRecord m_shown{m_channelData, m_sampleCount, m_clockDivider};  ///< UI thread only
    std::shared_ptr<ShownSeries> m_pending;  ///< UI thread only
    QTimer* m_buildTimer = nullptr;
    QRect m_barGeometry;  ///< the progress bar's own place, while Cancel shortens it
    bool m_cacheProblemSaid = false;

    struct Cursor {
        std::int32_t column = 0;
        int pointerY = 0;
        std::uint64_t sample = 0;
        std::vector<std::string> lines;
    };
    Cursor ReadCursor(const CursorPoint& point, int pointerY);
    std::optional<Cursor> m_cursor;
    QPoint m_pointer;  ///< where the last cursor was read
    ViewNavigator m_navigator;
    bool m_markerPointer = false;  ///< the pointer shows that a marker line can be dragged
    QMenu* m_contextMenu = nullptr;
    QAction* m_fullViewAction = nullptr;
    QAction* m_savePictureAction = nullptr;
    QAction* m_copyPictureAction = nullptr;
    std::vector<QAction*> m_goToActions;  ///< maximum then minimum of each channel
    std::vector<QAction*> m_markerActions;  ///< set A, set B, remove, the measurements window
    std::vector<QAction*> m_clockActions;   ///< the time axis from start, in UTC, in local time
    std::optional<std::uint64_t> m_menuSample;  ///< the cursor's sample when the menu opened
    /// Adds CSV-Save and Save of ExportPart() to `menu`, with their texts and states.
    void AddExportActions(QMenu* menu);
    QAction* m_csvPartAction = nullptr;
    QAction* m_savePartAction = nullptr;
    QDialog* m_measurements = nullptr;
    QLabel* m_measurementText = nullptr;
    std::unique_ptr<RecordController> m_recording;
    RecordDialog* m_recordDialog = nullptr;
    QAction* m_recordAction = nullptr;
    RecordingFollower* m_follower = nullptr;
    QLabel* m_followStatus = nullptr;
    bool m_followEndedPending = false;  ///< the ended recording's series is being opened
    bool m_exporting = false;  ///< an ExportJob runs, from its file dialog to its end
    std::uint64_t m_followedCount = 0;  ///< the followed record's count at its last append
};
