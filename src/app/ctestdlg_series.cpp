// A series of data files shown as one record: opening it, building its
// summaries on a worker thread with a progress bar and a Cancel, and what
// Save offers for it. The samples stay in the files; the window asks the
// series' source and summaries.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <thread>

#include "app/ctestdlg.h"
#include "app/dialog_template.h"
#include "record/summary_cache.h"
#include "settings/settings.h"

namespace {

// Dialog units: Cancel stands right of the shortened progress bar, under the File group.
constexpr int CANCEL_X = 606, CANCEL_Y = 416, CANCEL_W = 54, CANCEL_H = 16;
constexpr int BAR_RIGHT_WHILE_BUILDING = 600;
constexpr int BUILD_STEPS = 1000;

QRect PixelRect(int x, int y, int w, int h) {
    const Rect r = DialogRectToPixels(x, y, w, h);
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// "/dir/night-000001.dlf to night-000036.dlf (36 files)".
QString SeriesName(const QStringList& paths) {
    const QFileInfo first(paths.front());
    const QFileInfo last(paths.back());
    const QString lastName = first.absolutePath() == last.absolutePath() ? last.fileName() : last.absoluteFilePath();
    return QStringLiteral("%1 to %2 (%3 files)").arg(first.absoluteFilePath(), lastName).arg(paths.size());
}

int SummaryThreads() { return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)); }

}  // namespace

std::uint64_t CtestDlg::RecordCount() const {
    return m_shown.Count();
}

void CtestDlg::CreateSeriesControls() {
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnCancel->setObjectName(QStringLiteral("m_btnCancel"));
    m_btnCancel->setAutoDefault(false);
    m_btnCancel->setGeometry(PixelRect(CANCEL_X, CANCEL_Y, CANCEL_W, CANCEL_H));
    m_btnCancel->hide();
    connect(m_btnCancel, &QPushButton::clicked, this, &CtestDlg::OnCancelSummaries);
    m_buildTimer = new QTimer(this);
    m_buildTimer->setInterval(50);
    connect(m_buildTimer, &QTimer::timeout, this, [this] {
        if (m_pending && m_pending->source.Count() > 0) {
            const std::uint64_t done = m_pending->progress.done.load();
            m_progress->setValue(static_cast<int>(done * BUILD_STEPS / m_pending->source.Count()));
        }
    });
}

void CtestDlg::OpenFiles(const QStringList& paths) {
    if (paths.isEmpty()) {
        return;
    }
    std::vector<std::string> names;
    for (const QString& path : paths) names.push_back(QFile::encodeName(path).toStdString());
    OpenFileNames(names);
}

void CtestDlg::OpenFileNames(const std::vector<std::string>& names) {
    if (names.empty()) {
        return;
    }
    RunBusy([&](std::string& message) { return OpenNamed(names, message); }, m_btnOpen);
}

bool CtestDlg::OpenSeries(const std::vector<std::string>& paths, std::string& message) {
    auto series = std::make_shared<ShownSeries>();
    // Only the headers are read here; files that do not form one record are
    // refused before anything of the record shown changes.
    const FileError error = series->source.Open(paths);
    if (error != FileError::None) {
        message = FileErrorMessage(error);
        return false;
    }
    for (const std::string& path : paths) series->paths.push_back(QFile::decodeName(QByteArray::fromStdString(path)));
    m_pending = series;
    const QRect bar = PixelRect(6, 424, 660, 8);
    m_progress->setGeometry(bar.x(), bar.y(), PixelRect(6, 0, BAR_RIGHT_WHILE_BUILDING - 6, 0).width(), bar.height());
    m_progress->setRange(0, BUILD_STEPS);
    m_progress->setValue(0);
    m_progress->show();
    m_btnCancel->setEnabled(true);
    m_btnCancel->show();
    m_buildTimer->start();
    m_workers.Start([this, series] {
        const SummaryResult result =
            SummariesOf(series->source, SummaryThreads(), series->progress, series->summaries, &series->cacheProblem);
        OnUiThread([&] { FinishSeries(series, result); });
    });
    return true;
}

void CtestDlg::OnCancelSummaries() {
    if (m_pending) {
        m_pending->progress.cancel = true;
        m_btnCancel->setEnabled(false);
    }
}

void CtestDlg::FinishSeries(const std::shared_ptr<ShownSeries>& series, SummaryResult result) {
    m_buildTimer->stop();
    m_btnCancel->hide();
    m_progress->hide();
    m_progress->setGeometry(PixelRect(6, 424, 660, 8));
    m_pending.reset();
    // A Cancel pressed before this point wins even over a build that got done.
    if (series->progress.cancel.load()) {
        result = SummaryResult::Cancelled;
    }
    if (result == SummaryResult::Done) {
        m_shown.ShowSeries(series);
        DataFileHeader header = series->source.Reader().Header(0);
        ShowLoadedRecord(header, series->source.Count(), SeriesName(series->paths));
    } else if (result == SummaryResult::ReadError) {
        ShowMessage(FileErrorMessage(FileError::Read));
    }
    EnableControls(true);
    m_btnOpen->setFocus();
    // Once per window: each open builds the summaries again until the cache can be written.
    if (!series->cacheProblem.empty() && !m_cacheProblemSaid) {
        m_cacheProblemSaid = true;
        ShowMessage("The summaries could not be cached (" + series->cacheProblem +
                    "); they are built again at each open.");
    }
}

void CtestDlg::SaySeriesReadError() {
    if (!Series() || !Series()->source.TakeReadFailure() || Series()->readErrorSaid) {
        return;
    }
    Series()->readErrorSaid = true;
    // After the redraw that met the error, not inside it.
    QTimer::singleShot(0, this, [this] { ShowMessage(FileErrorMessage(FileError::Read)); });
}

void CtestDlg::MarkUnreadable(std::vector<std::string>& lines, std::uint64_t sample) {
    if (!Series()) {
        return;
    }
    for (int ch = 0; ch < 4; ++ch) {
        const std::size_t line = 2 + static_cast<std::size_t>(ch);
        if (line < lines.size() && !Series()->source.Sample(ch, sample)) {
            lines[line] = "CH" + std::to_string(ch) + " unreadable";
        }
    }
    SaySeriesReadError();
}

void CtestDlg::ShowLoadedRecord(const DataFileHeader& header, std::uint64_t count, const QString& name) {
    m_fileName = name;
    m_clockDivider = header.clockDivider;
    // The Sampling Count box is the next acquisition's setting: a longer series shows the most one can take.
    m_sampleCount = static_cast<std::int32_t>(std::min<std::uint64_t>(count, MAX_SAMPLE_COUNT));
    m_triggerChannel = static_cast<std::uint8_t>(header.triggerChannel & 0xFF);
    m_triggerType = static_cast<std::uint8_t>(header.triggerType & 0xFF);
    m_threshold = header.threshold;
    m_displayMode = (header.displayMode & 0xFF) != 0;
    ShowSettings();
    m_dataValid = true;
    DropZoom();
    RedrawAll(m_displayMode);
    UpdateCaption();
    UpdateSummary();
}

void CtestDlg::OfferSave(bool enable) {
    // A series or a recording followed may hold more than a data file does.
    const bool tooLong = (Series() || m_shown.Followed()) && RecordCount() > CHANNEL_CAPACITY;
    m_btnSave->setEnabled(enable && !tooLong);
    m_btnSave->setToolTip(
        tooLong ? QStringLiteral("A data file holds at most %1 samples; this record has %2. CSV-Save exports it whole.")
                      .arg(QLocale(QLocale::English).toString(static_cast<qulonglong>(CHANNEL_CAPACITY)),
                           QLocale(QLocale::English).toString(static_cast<qulonglong>(RecordCount())))
                : QString());
}
