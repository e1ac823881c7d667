// The window's operations behind Search, Save, Open and CSV-Save.
#include <QComboBox>
#include <QFileInfo>
#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "app/ctestdlg.h"
#include "device/access.h"
#include "files/csv.h"
#include "files/dlf.h"
#include "files/file.h"
#include "files/series_names.h"
#include "files/series_text.h"

namespace {

const QString DLF_FILTER = QStringLiteral("DLFファイル (*.dlf)");
const QString DLF_SUFFIX = QStringLiteral("dlf");
const QString CSV_FILTER = QStringLiteral("CSVファイル (*.csv)");
const QString CSV_SUFFIX = QStringLiteral("csv");

// Forwards the export's progress to the window's progress bar. A block's
// position is handed over without waiting for the window: waiting on every
// 64 rows took two thirds of a long export's time. The window shows the
// latest position; at most one update is on its way at a time.
class ProgressBarSink : public CsvProgress {
public:
    ProgressBarSink(CtestDlg& dlg, std::function<void(const std::function<void()>&)> onUi)
        : m_dlg(dlg), m_onUi(std::move(onUi)) {}

    void Begin(int maximum) override {
        m_onUi([&] {
            m_dlg.m_progress->setRange(0, maximum);
            m_dlg.m_progress->setValue(0);
            m_dlg.m_progress->show();
        });
    }
    void Position(int position) override {
        m_latest->position.store(position);
        if (!m_latest->queued.exchange(true)) {
            // Queued before any later call to the window, so a failure's
            // message comes after the bar shows the last position reached.
            QMetaObject::invokeMethod(
                m_dlg.m_progress,
                [bar = m_dlg.m_progress, latest = m_latest] {
                    latest->queued.store(false);
                    bar->setValue(latest->position.load());
                },
                Qt::QueuedConnection);
        }
    }
    void Finish() override {
        // The full bar stays visible for a moment before it goes.
        m_onUi([&] { m_dlg.m_progress->setValue(m_latest->position.load()); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_onUi([&] { m_dlg.m_progress->hide(); });
    }

private:
    struct Latest {
        std::atomic<int> position{0};
        std::atomic<bool> queued{false};
    };
    CtestDlg& m_dlg;
    std::function<void(const std::function<void()>&)> m_onUi;
    std::shared_ptr<Latest> m_latest = std::make_shared<Latest>();
};

}  // namespace

// --- Search -------------------------------------------------------------------

void CtestDlg::OnSearch() {
    RunBusy([this](std::string& text) { return SearchDevices(text); }, m_btnSearch);
}

bool CtestDlg::SearchDevices(std::string& text) {
    for (int i = m_comboSerial->count() - 1; i >= 0; --i) {
        m_comboSerial->removeItem(i);
    }
    const D2xxApi* api = m_backend.api ? m_backend.api() : nullptr;
    if (api == nullptr) {
        text = ResultMessage(FT_OTHER_ERROR);
        return false;
    }
    const SearchOutcome outcome = SearchLoggers(*api);
    for (std::size_t i = 0; i < outcome.serials.size() && i < std::size(m_serials); ++i) {
        m_serials[i] = outcome.serials[i];
        m_comboSerial->addItem(QString::number(outcome.serials[i]));
    }
    m_comboSerial->setCurrentIndex(outcome.selectLast ? m_comboSerial->count() - 1 : -1);
    if (!outcome.ok) {
        text = outcome.message;
        return false;
    }
    return true;
}

// --- DLF data file --------------------------------------------------------------

void CtestDlg::OnSave() {
    RunBusy([this](std::string& message) { return SaveDataFile(message); }, m_btnSave);
}

void CtestDlg::OnOpen() {
    RunBusy([this](std::string& message) { return LoadDataFile(message); }, m_btnOpen);
}

bool CtestDlg::SaveDataFile(std::string& message) {
    const QString path = m_prompts->AskSaveFileName(this, DLF_FILTER, DLF_SUFFIX);
    if (path.isEmpty()) {
        return true;
    }
    DataFileHeader header;
    header.clockDivider = m_clockDivider;
    header.sampleCount = static_cast<std::uint32_t>(m_sampleCount);
    header.triggerChannel = m_triggerChannel;
    header.triggerType = m_triggerType;
    header.threshold = m_threshold;
    header.displayMode = m_displayMode ? 1 : 0;
    if (Series()) {
        return SaveSeries(path, header, message);
    }
    const FileError error = ::SaveDataFile(path.toStdString(), header, m_channelData);
    if (error != FileError::None) {
        message = FileErrorMessage(error);
        return false;
    }
    return true;
}

bool CtestDlg::LoadDataFile(std::string& message) {
    QStringList paths = m_prompts->AskOpenFileNames(this, DLF_FILTER, DLF_SUFFIX);
    if (paths.isEmpty()) {
        return true;
    }
    if (paths.size() == 1 && !QFileInfo::exists(paths.front())) {
        // A typed PREFIX (to which the dialog adds .dlf) that names no file opens its whole series.
        std::string typed = paths.front().toStdString();
        if (typed.ends_with(SERIES_DATA_EXTENSION)) typed.resize(typed.size() - std::strlen(SERIES_DATA_EXTENSION));
        const std::vector<std::string> series = ExpandPrefixes({typed}).files;
        if (series.size() > 1 || series.front() != typed) {
            paths.clear();
            for (const std::string& file : series) paths.push_back(QString::fromStdString(file));
        }
    }
    // A recording's PREFIX-NNNNNN.dlf files open in recording order,
    // whatever order they were picked in, past file 999,999 too.
    std::sort(paths.begin(), paths.end(), [](const QString& a, const QString& b) {
        return SeriesOrderLess(a.toStdString(), b.toStdString());
    });
    return OpenNamed(paths, message);
}

bool CtestDlg::OpenNamed(const QStringList& paths, std::string& message) {
    if (paths.size() == 1) {
        return LoadOneFile(paths.front(), message);
    }
    if (OpenSeries(paths, message)) {
        return true;
    }
    // Files that do not belong together: the message names the two.
    std::vector<std::string> files;
    std::vector<DataFileHeader> headers(static_cast<std::size_t>(paths.size()));
    for (const QString& path : paths) {
        files.push_back(path.toStdString());
        if (ReadDataFileHeader(files.back(), headers[files.size() - 1]) != FileError::None) {
            return false;
        }
    }
    if (const std::string mix = MixedFilesText(files, headers); !mix.empty()) {
        message += "\n" + mix;
    }
    return false;
}

bool CtestDlg::LoadOneFile(const QString& path, std::string& message) {
    // The file is read into the spare bank; the record shown changes only once
    // the whole file has been read, so a failed read never mixes two files.
    DataFileHeader header;
    const FileError error = ::LoadDataFile(path.toStdString(), header, m_spareData);
    if (error != FileError::None) {
        message = FileErrorMessage(error);
        return false;
    }
    std::swap(m_channelData, m_spareData);
    m_shown.ShowBank(header.stamp);
    ShowLoadedRecord(header, header.sampleCount, path);
    return true;
}

// --- CSV export -------------------------------------------------------------------

void CtestDlg::OnCsvSave() {
    EnableControls(false);
    m_workers.Start([this] { CsvExportThread(); });
}

void CtestDlg::CsvExportThread() { RunCsvExport(); }

void CtestDlg::RunCsvExport() {
    std::string message;
    std::uint64_t count = 0;
    int selection = 0;
    OnUiThread([&] {
        count = RecordCount();
        selection = m_comboCsvCh->currentIndex();
    });
    if (!WriteCsvFile(selection, count, message)) {
        ShowMessage(message);
    }
    OnUiThread([this] {
        EnableControls(true);
        m_btnSave->setFocus();
    });
}

bool CtestDlg::WriteCsvFile(int selection, std::uint64_t count, std::string& message) {
    QString path;
    OnUiThread([&] { path = m_prompts->AskSaveFileName(this, CSV_FILTER, CSV_SUFFIX); });
    if (path.isEmpty()) {
        return true;
    }
    std::shared_ptr<const ShownSeries> series;
    OnUiThread([&] { series = Series(); });
    ProgressBarSink progress(*this, [this](const std::function<void()>& call) { OnUiThread(call); });
    FileError error = FileError::None;
    bool cancelled = false;
    if (!series) {
        error = ::WriteCsvFile(path.toStdString(), selection, static_cast<std::uint32_t>(count), m_channelData, &progress);
    } else {
        // A series may take minutes: it has a Cancel, which ends the export as
        // a failure does, the old file kept and the new one removed, but silently.
        m_exportCancel = false;
        OnUiThread([this] { ShowExportCancel(true); });
        error = ::WriteCsvFile(
            path.toStdString(), selection, count,
            [&](int channel, std::uint64_t first, std::uint32_t rows, double* out) {
                return !m_exportCancel.load() && series->source.Copy(channel, first, rows, out);
            },
            &progress);
        cancelled = error != FileError::None && m_exportCancel.load();
        OnUiThread([&] {
            ShowExportCancel(false);
            if (cancelled) {
                m_progress->hide();
            }
        });
    }
    if (error != FileError::None && !cancelled) {
        message = FileErrorMessage(error);
        return false;
    }
    return true;
}

void CtestDlg::OnCancelExport() {
    m_exportCancel = true;
    m_btnCancel->setEnabled(false);
}

void CtestDlg::ShowExportCancel(bool show) {
    if (!show) {
        m_btnCancel->hide();
        m_progress->setGeometry(m_barGeometry);
        return;
    }
    // The bar stops short of Cancel, as while a series' summaries are built.
    m_barGeometry = m_progress->geometry();
    const int gap = DialogUnitsToPixels(6, 0).x;
    m_progress->setGeometry(m_barGeometry.x(), m_barGeometry.y(), m_btnCancel->x() - gap - m_barGeometry.x(),
                            m_barGeometry.height());
    m_btnCancel->setEnabled(true);
    m_btnCancel->show();
}
