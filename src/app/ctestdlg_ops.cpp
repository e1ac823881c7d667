// The window's operations behind Search, Save, Open and CSV-Save; the
// exports themselves are ExportJob's.
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cstring>
#include <optional>

#include "app/ctestdlg.h"
#include "app/export_job.h"
#include "device/access.h"
#include "files/dlf.h"
#include "files/file.h"
#include "files/series_names.h"
#include "files/series_text.h"
#include "record/running_recording.h"

namespace {

const QString DLF_FILTER = QStringLiteral("DLFファイル (*.dlf)");
// Open offers a running recording's working files too, after the data files' entry.
const QString OPEN_FILTER = DLF_FILTER + QStringLiteral(";;Data and working files (*.dlf *.vrec)");
const QString DLF_SUFFIX = QStringLiteral("dlf");

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
    return ExportJob(*this, ExportJob::Format::DataFile).SaveDataFile(message);
}

bool CtestDlg::LoadDataFile(std::string& message) {
    QStringList paths = m_prompts->AskOpenFileNames(this, OPEN_FILTER, DLF_SUFFIX);
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
    std::vector<std::string> names;
    for (const QString& path : paths) names.push_back(QFile::encodeName(path).toStdString());
    return OpenNamed(names, message);
}

bool CtestDlg::OpenNamed(const std::vector<std::string>& paths, std::string& message) {
    // Files of a recording that still runs, or left working files: it is shown whole, from its first
    // file, and followed, whichever of its files or its prefix was named.
    if (const std::string prefix = RecordingToFollow(paths); !prefix.empty()) {
        return StartFollowing(prefix, {}, false, message);
    }
    if (paths.size() == 1) {
        return LoadOneFile(paths.front(), message);
    }
    if (OpenSeries(paths, message)) {
        return true;
    }
    // Files that do not belong together: the message names the two.
    std::vector<DataFileHeader> headers(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (ReadDataFileHeader(paths[i], headers[i]) != FileError::None) {
            return false;
        }
    }
    if (const std::string mix = MixedFilesText(paths, headers); !mix.empty()) {
        message += "\n" + mix;
    }
    return false;
}

bool CtestDlg::LoadOneFile(const std::string& path, std::string& message) {
    // The file is read into the spare bank; the record shown changes only once
    // the whole file has been read, so a failed read never mixes two files.
    DataFileHeader header;
    const FileError error = ::LoadDataFile(path, header, m_spareData);
    if (error != FileError::None) {
        message = FileErrorMessage(error);
        return false;
    }
    std::swap(m_channelData, m_spareData);
    m_shown.ShowBank(header.stamp);
    ShowLoadedRecord(header, header.sampleCount, QFile::decodeName(QByteArray::fromStdString(path)));
    return true;
}

// --- CSV export -------------------------------------------------------------------

void CtestDlg::OnCsvSave() { ExportJob(*this, ExportJob::Format::Csv).Start(); }

ViewRange CtestDlg::ExportPart() const { return m_navigator.Markers().Between(RecordCount()).value_or(VisibleRange()); }

void CtestDlg::AddExportActions(QMenu* menu) {
    if (m_csvPartAction == nullptr) {
        m_csvPartAction = new QAction(this);
        m_savePartAction = new QAction(this);
        connect(m_csvPartAction, &QAction::triggered, this,
                [this] { ExportJob(*this, ExportJob::Format::Csv, ExportPart()).Start(); });
        connect(m_savePartAction, &QAction::triggered, this,
                [this] { ExportJob(*this, ExportJob::Format::DataFile, ExportPart()).Start(); });
    }
    const ViewRange part = ExportPart();
    const QString what = m_navigator.Markers().Between(RecordCount()) ? QStringLiteral("between markers")
                                                                   : QStringLiteral("of the visible range");
    m_csvPartAction->setText(QStringLiteral("CSV-Save %1\u2026").arg(what));
    m_savePartAction->setText(QStringLiteral("Save %1\u2026").arg(what));
    const QString refusal = ExportJob(*this, ExportJob::Format::DataFile, part).DataFileRefusal();
    const bool exportable = ViewInteractive();
    m_csvPartAction->setEnabled(exportable);
    m_savePartAction->setEnabled(exportable && refusal.isEmpty());
    m_savePartAction->setToolTip(refusal);
    m_savePartAction->setStatusTip(refusal);
    menu->setToolTipsVisible(true);
    menu->addSeparator();
    menu->addAction(m_csvPartAction);
    menu->addAction(m_savePartAction);
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
