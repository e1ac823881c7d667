#include "app/export_job.h"

#include <QComboBox>
#include <QFile>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "app/ctestdlg.h"
#include "app/record_controller.h"
#include "files/csv.h"
#include "files/dlf.h"
#include "files/file.h"
#include "files/series_claim.h"
#include "files/series_names.h"
#include "record/follow.h"
#include "record/time_map.h"

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
    ProgressBarSink(QProgressBar* bar, std::function<void(const std::function<void()>&)> onUi)
        : m_bar(bar), m_onUi(std::move(onUi)) {}

    void Begin(int maximum) override {
        m_onUi([&] {
            m_bar->setRange(0, maximum);
            m_bar->setValue(0);
            m_bar->show();
        });
    }
    void Position(int position) override {
        m_latest->position.store(position);
        if (!m_latest->queued.exchange(true)) {
            // Queued before any later call to the window, so a failure's
            // message comes after the bar shows the last position reached.
            QMetaObject::invokeMethod(
                m_bar,
                [bar = m_bar, latest = m_latest] {
                    latest->queued.store(false);
                    bar->setValue(latest->position.load());
                },
                Qt::QueuedConnection);
        }
    }
    void Finish() override {
        // The full bar stays visible for a moment before it goes.
        m_onUi([&] { m_bar->setValue(m_latest->position.load()); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_onUi([&] { m_bar->hide(); });
    }

private:
    struct Latest {
        std::atomic<int> position{0};
        std::atomic<bool> queued{false};
    };
    QProgressBar* m_bar;
    std::function<void(const std::function<void()>&)> m_onUi;
    std::shared_ptr<Latest> m_latest = std::make_shared<Latest>();
};

QString Thousands(std::uint64_t value) {
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(value));
}

bool SameFile(const std::string& path, dev_t device, ino_t inode) {
    struct stat file {};
    return ::stat(path.c_str(), &file) == 0 && file.st_dev == device && file.st_ino == inode;
}

// The stamp of a part from `sample` on: its file's, dated by the record's time map, as the window
// shows the sample's time.
std::optional<RecordingStamp> Dated(std::optional<RecordingStamp> stamp, const TimeMap& times, std::uint64_t sample) {
    if (stamp && sample < times.Count()) {
        if (const std::optional<std::int64_t> utc = times.Utc(sample)) stamp->startMicros = *utc;
    }
    return stamp;
}

}  // namespace

ExportJob::ExportJob(CtestDlg& window, Format format, std::optional<ViewRange> part)
    : m_window(window),
      m_format(format),
      m_part(part),
      m_first(part ? part->first : 0),
      m_count(part ? part->count : window.RecordCount()) {
    if (const std::shared_ptr<ShownSeries>& series = window.Series()) {
        m_source = std::shared_ptr<const SampleSource>(series, &series->source);
        const SeriesReader* reader = &series->source.Reader();
        auto times = std::make_shared<const TimeMap>(window.m_shown.Times());
        m_stampFrom = [series, reader, times](std::uint64_t sample) {
            return Dated(reader->StampFrom(sample), *times, sample);
        };
        m_holds = [series, reader](dev_t device, ino_t inode) {
            for (std::size_t i = 0; i < reader->FileCount(); ++i) {
                if (reader->Identity(i).device == device && reader->Identity(i).inode == inode) {
                    return true;
                }
            }
            return false;
        };
    } else if (const std::shared_ptr<FollowedShown>& followed = window.m_shown.Followed()) {
        // m_count is the count shown: the recording may have read on already.
        std::shared_ptr<const FollowedRecording> recording = followed->recording;
        m_recordings.push_back(recording->Prefix());
        m_source = recording;
        auto times = std::make_shared<const TimeMap>(window.m_shown.Times());
        m_stampFrom = [recording, times](std::uint64_t sample) {
            return Dated(recording->StampFrom(sample), *times, sample);
        };
        m_holds = [recording](dev_t device, ino_t inode) {
            // A file's working file and its data file, whichever the recorder
            // has now: both hold the samples shown.
            for (const std::uint64_t start : recording->FileStarts()) {
                const std::string path = recording->FileOf(start);
                const std::string stem = path.substr(0, path.rfind('.'));
                if (SameFile(stem + SERIES_DATA_EXTENSION, device, inode) ||
                    SameFile(stem + SERIES_WORKING_EXTENSION, device, inode)) {
                    return true;
                }
            }
            return false;
        };
    }
    if (window.Recording()) m_recordings.push_back(window.m_recording->Options().prefix);
}

void ExportJob::Start() {
    if (m_format == Format::Csv) {
        StartCsv();
        return;
    }
    m_window.RunBusy([this](std::string& message) { return SaveDataFile(message); }, m_window.m_btnSave);
}

QString ExportJob::DataFileRefusal() const {
    if (m_count > DLF_MAX_SAMPLE_COUNT) {
        return QStringLiteral("A data file holds at most %1 samples; this part has %2. CSV-Save exports it.")
            .arg(Thousands(DLF_MAX_SAMPLE_COUNT), Thousands(m_count));
    }
    if (m_part && m_source && m_count > 1) {
        // The stamps count the samples the recording lost before each file.
        const auto first = m_stampFrom(m_first);
        const auto last = m_stampFrom(m_first + m_count - 1);
        if (first && last && last->firstSample - first->firstSample > m_count - 1) {
            return QStringLiteral("The recording lost %1 samples inside this part, which one data file cannot "
                                  "tell. CSV-Save exports it.")
                .arg(Thousands(last->firstSample - first->firstSample - (m_count - 1)));
        }
    }
    return QString();
}

std::string ExportJob::Refusal(const QString& path) const {
    const std::string name = QFile::encodeName(path).toStdString();
    for (const std::string& prefix : m_recordings) {
        // Taken now, a name the recorder comes to later would end the recording.
        if (SeriesClaimsName(prefix, name)) {
            return path.toStdString() + " is a name of the recording " + prefix +
                   ", which its recorder writes or may still write. Choose another name.";
        }
    }
    struct stat target {};
    if (::stat(QFile::encodeName(path).constData(), &target) != 0) {
        return {};  // a new name
    }
    // Compared by device and inode, so that another spelling or a link of
    // the name is caught too.
    bool input = false;
    if (m_source) {
        input = m_holds(target.st_dev, target.st_ino);
    } else if (m_part && !m_window.m_fileName.isEmpty()) {
        // A whole record in memory may be saved over its own file; a part would cut it.
        struct stat shown {};
        input = ::stat(QFile::encodeName(m_window.m_fileName).constData(), &shown) == 0 &&
                shown.st_dev == target.st_dev && shown.st_ino == target.st_ino;
    }
    if (!input) {
        return {};
    }
    return path.toStdString() + " holds the record shown and is kept as it is. Choose another name.";
}

bool ExportJob::SaveDataFile(std::string& message) {
    CtestDlg& w = m_window;
    struct Exporting {
        bool& flag;
        explicit Exporting(bool& f) : flag(f) { flag = true; }
        ~Exporting() { flag = false; }
    } exporting(w.m_exporting);
    if (const QString refusal = DataFileRefusal(); !refusal.isEmpty()) {
        message = refusal.toStdString();
        return false;
    }
    const QString path = w.m_prompts->AskSaveFileName(&w, DLF_FILTER, DLF_SUFFIX);
    if (path.isEmpty()) {
        return true;
    }
    if (const std::string refusal = Refusal(path); !refusal.empty()) {
        message = refusal;
        return false;
    }
    DataFileHeader header;
    header.clockDivider = w.m_clockDivider;
    header.sampleCount = static_cast<std::uint32_t>(w.m_sampleCount);
    header.triggerChannel = w.m_triggerChannel;
    header.triggerType = w.m_triggerType;
    header.threshold = w.m_threshold;
    header.displayMode = w.m_displayMode ? 1 : 0;
    const std::uint64_t first = m_first;
    const std::uint64_t count = m_count;
    const double* channels[DLF_CHANNELS] = {};
    if (m_source) {
        // The spare bank holds nothing shown while a series or a recording
        // is: the samples are gathered there and written as one data file.
        for (int ch = 0; ch < DLF_CHANNELS; ++ch) {
            if (!m_source->Copy(ch, first, count, w.m_spareData[ch])) {
                message = FileErrorMessage(FileError::Read);
                return false;
            }
            channels[ch] = w.m_spareData[ch];
        }
        header.stamp = m_part ? m_stampFrom(first) : std::nullopt;
    } else {
        for (int ch = 0; ch < DLF_CHANNELS; ++ch) {
            channels[ch] = w.m_channelData[ch] + first;
        }
        if (m_part && w.m_shown.BankStamp()) {
            header.stamp = StampFromSample(*w.m_shown.BankStamp(), w.m_clockDivider, first);
        }
    }
    header.sampleCount = static_cast<std::uint32_t>(count);
    const FileError error = ::SaveDataFile(path.toStdString(), header, channels);
    if (error != FileError::None) {
        message = FileErrorMessage(error);
        return false;
    }
    return true;
}

void ExportJob::StartCsv() {
    CtestDlg& w = m_window;
    w.m_exporting = true;
    w.EnableControls(false);
    const QString path = w.m_prompts->AskSaveFileName(&w, CSV_FILTER, CSV_SUFFIX);
    const std::string refusal = path.isEmpty() ? std::string() : Refusal(path);
    if (path.isEmpty() || !refusal.empty()) {
        if (!refusal.empty()) {
            w.ShowMessage(refusal);
        }
        w.EnableControls(true);
        w.m_btnSave->setFocus();
        w.m_exporting = false;
        return;
    }
    const int selection = w.m_comboCsvCh->currentIndex();
    w.m_workers.Start([job = *this, path, selection]() mutable { job.WriteCsv(path, selection); });
}

void ExportJob::WriteCsv(const QString& path, int selection) {
    CtestDlg& w = m_window;
    ProgressBarSink progress(w.m_progress, [&w](const std::function<void()>& call) { w.OnUiThread(call); });
    const std::uint64_t first = m_first;
    const std::uint64_t count = m_count;
    FileError error = FileError::None;
    bool cancelled = false;
    if (!m_source) {
        // The controls stay disabled while the worker reads the record in memory.
        const double* channels[4];
        for (int ch = 0; ch < 4; ++ch) {
            channels[ch] = w.m_channelData[ch] + first;
        }
        error = ::WriteCsvFile(path.toStdString(), selection, static_cast<std::uint32_t>(count), channels, &progress);
    } else {
        // A series or a recording may take minutes: it has a Cancel, which ends the export as
        // a failure does, the old file kept and the new one removed, but silently.
        w.m_exportCancel = false;
        w.OnUiThread([&w] { w.ShowExportCancel(true); });
        const SampleSource& source = *m_source;
        error = ::WriteCsvFile(
            path.toStdString(), selection, count,
            [&](int channel, std::uint64_t row, std::uint32_t rows, double* out) {
                return !w.m_exportCancel.load() && source.Copy(channel, first + row, rows, out);
            },
            &progress);
        cancelled = error != FileError::None && w.m_exportCancel.load();
        w.OnUiThread([&] {
            w.ShowExportCancel(false);
            if (cancelled) {
                w.m_progress->hide();
            }
        });
    }
    if (error != FileError::None && !cancelled) {
        w.ShowMessage(FileErrorMessage(error));
    }
    w.OnUiThread([&w] {
        w.EnableControls(true);
        w.m_btnSave->setFocus();
        w.m_exporting = false;
    });
}
