#pragma once

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "display/plotview.h"
#include "record/samplesource.h"
#include "record/summaries.h"
#include "display/viewrange.h"
#include "files/dlf.h"
#include "record/follow.h"
#include "record/time_map.h"

/// A series of data files shown as one record, read from the files on demand
/// through its summaries.
struct ShownSeries {
    SeriesSource source;
    SummaryPyramid summaries;
    SummaryProgress progress;
    QStringList paths;
    std::string cacheProblem;   ///< why the summaries could not be cached; "" when they were
    bool readErrorSaid = false;  ///< a read error while shown is said once
};

/// A running recording shown as it grows: its samples up to `count`, whose
/// summaries are built.
struct FollowedShown {
    std::shared_ptr<FollowedRecording> recording;
    SummaryPyramid summaries;
    std::uint64_t count = 0;  ///< samples shown (summarised) so far
};

/// The record the window shows, one model for its two kinds: the dialog's
/// channel bank (a run, or one data file read into it) or a series of files
/// read through its summaries. The plots, the Summary, the caption, the
/// cursor and the measurements read the record through it alone. UI thread
/// only.
class ShownRecord : public QObject {
    Q_OBJECT

public:
    /// `bank`, `count` and `clockDivider`: the dialog's channel buffers and
    /// the settings of the record in them, which a run and an Open fill.
    ShownRecord(double* const (&bank)[4], const std::int32_t& count, const std::int32_t& clockDivider,
                QObject* parent = nullptr);

    /// Samples per channel of the record shown.
    std::uint64_t Count() const;
    /// The series shown; null while the bank is.
    const std::shared_ptr<ShownSeries>& Series() const { return m_series; }

    /// The bank is shown, stamped as the data file read into it (none for a run).
    void ShowBank(std::optional<RecordingStamp> stamp);
    /// The stamp of the data file in the bank; none for a run or a series.
    const std::optional<RecordingStamp>& BankStamp() const { return m_stamp; }
    /// `series`, whose summaries are built, is shown.
    void ShowSeries(std::shared_ptr<ShownSeries> series);
    /// The running recording `followed` is shown; it grows by Append.
    void ShowFollowed(std::shared_ptr<FollowedShown> followed);
    /// The running recording shown; null unless one is followed.
    const std::shared_ptr<FollowedShown>& Followed() const { return m_followed; }
    /// Samples were appended to the record shown, which now has `count`:
    /// says so to its views (a recording followed as it grows).
    void Append(std::uint64_t count);

    /// Calls `use` with the record and its summaries (null for the bank,
    /// which is read directly).
    void Read(const std::function<void(const SampleSource&, const SummaryPyramid*)>& use) const;
    /// UTC time of `sample` (microseconds since 1970) where the record is stamped.
    std::optional<std::int64_t> SampleUtc(std::uint64_t sample) const;
    /// When each sample of the record shown was taken: real time across a
    /// stamped recording's gaps, sample counts for a run.
    const TimeMap& Times() const;
    /// The files of a series or of the part of a followed recording shown, in
    /// order; none for the bank.
    std::vector<RecordFile> Files() const;
    /// The largest and smallest value of `channel` over the whole record
    /// (a series' from its summaries); false when it holds no number.
    bool WholeExtremes(int channel, double& maximum, double& minimum) const;
    /// Redraws the `visible` range of the record into `view` in display `mode`.
    void Draw(PlotView& view, int mode, bool dataValid, ViewRange visible) const;

signals:
    /// Another record is shown.
    void shown();
    /// The record shown grew to `count` samples.
    void appended(std::uint64_t count);

private:
    double* const (&m_bank)[4];
    const std::int32_t& m_count;
    const std::int32_t& m_clockDivider;
    std::shared_ptr<ShownSeries> m_series;
    std::shared_ptr<FollowedShown> m_followed;
    std::optional<RecordingStamp> m_stamp;  // of the data file in the bank
    // Times() of the record shown, made again when another is shown or it changed length or clock.
    mutable TimeMap m_times;
    mutable bool m_timesValid = false;
};
