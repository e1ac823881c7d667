#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

#include "acquisition/record.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class RecordController;
class UiPrompts;

/// "Record to files…": the prefix, a duration or until Stop, and the split of
/// a recording that runs the recorder of vosctl record with the window's
/// settings. The prefix is checked here, before the logger opens, with the
/// rules of vosctl record; the dialog stays open while the recording runs,
/// shows its progress and ends it with Stop.
class RecordDialog : public QDialog {
    Q_OBJECT

public:
    /// The window's side of a recording: fills the logger and its settings
    /// into `options` and returns the driver, or null with `why` set.
    using WindowSettings = std::function<const D2xxApi*(RecordOptions& options, QString& why)>;

    /// `markerFolder`, when not empty, receives a small file naming the
    /// prefix while the recording runs, so that the next start finds what a
    /// killed program left.
    RecordDialog(RecordController& controller, UiPrompts& prompts, WindowSettings settings, QString markerFolder,
                 QWidget* parent);

    /// Checks the entries and the prefix and starts the recording; false,
    /// with the reason said, when it does not start.
    bool StartRecording();
    void OnStop();
    void OnBrowse();

    QLineEdit* m_editPrefix = nullptr;
    QPushButton* m_btnBrowse = nullptr;
    QLineEdit* m_editDuration = nullptr;
    QCheckBox* m_checkUntilStop = nullptr;
    QLineEdit* m_editSplit = nullptr;
    QPushButton* m_btnStart = nullptr;
    QPushButton* m_btnStop = nullptr;
    QLabel* m_status = nullptr;

protected:
    void reject() override;

private:
    void Refuse(const QString& text);
    void ShowState();
    void Finished();

    RecordController& m_controller;
    UiPrompts& m_prompts;
    WindowSettings m_settings;
    QString m_markerFolder;
    QTimer* m_timer = nullptr;
};
