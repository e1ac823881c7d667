#pragma once

#include <QString>

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "display/viewrange.h"

#include "files/dlf.h"

class CtestDlg;
class SampleSource;

/// One CSV-Save or Save of the record shown in the window, whole or a part
/// of it. The output path is asked and checked on the window's thread
/// before anything is written; a CSV is then written on a worker thread
/// with the progress bar (and Cancel for a series), a data file on the
/// window's thread, as Save writes it. Every file goes to a new file that
/// replaces the old name only once it is complete. A series or a recording
/// followed is read through its source, which the job keeps alive: it writes
/// the samples shown when it was made, however the recording grows or ends
/// and whatever the window shows meanwhile.
class ExportJob {
public:
    enum class Format { Csv, DataFile };

    /// `part`: samples of the record shown; empty for the whole record.
    ExportJob(CtestDlg& window, Format format, std::optional<ViewRange> part = std::nullopt);

    /// Runs the export: StartCsv, or SaveDataFile as Save runs it (the
    /// controls disabled meanwhile, a failure shown, the focus on Save).
    void Start();

    /// Save: asks for the data file and writes it. True when written or
    /// when the dialog was cancelled; false with `message` set otherwise.
    /// The whole record is written as Save always wrote it (a series without
    /// its stamp); a part keeps the stamp of its first sample, where the
    /// record shown is stamped, so that it still says when it was taken.
    bool SaveDataFile(std::string& message);

    /// CSV-Save: with the controls disabled, asks for the CSV file, checks
    /// it and starts the export on a worker thread, which shows a failure,
    /// enables the controls again and puts the focus on Save; a cancelled
    /// dialog or a refused name ends it at once the same way.
    void StartCsv();

    /// Why the samples cannot be saved as one data file: more than it holds,
    /// or, in a part, a gap the recording lost inside them, which one file
    /// cannot tell; empty when they can. Save says it before asking for a name.
    QString DataFileRefusal() const;

private:
    /// Why `path` must not be written: it is a file of the shown series or
    /// recording (or, for a part, the data file shown), whose samples it
    /// would replace.
    std::string Refusal(const QString& path) const;
    /// Worker thread: writes the CSV file `path` of column `selection`.
    void WriteCsv(const QString& path, int selection);

    CtestDlg& m_window;
    Format m_format;
    std::optional<ViewRange> m_part;
    /// The series or recording shown; null for a record in memory.
    std::shared_ptr<const SampleSource> m_source;
    /// The stamp a part from a sample of m_source on carries.
    std::function<std::optional<RecordingStamp>(std::uint64_t)> m_stampFrom;
    /// Whether the file of device and inode is one of m_source's.
    std::function<bool(dev_t, ino_t)> m_holds;
    /// The prefixes of the recordings followed or run by the window: every
    /// name they own or may still create is refused.
    std::vector<std::string> m_recordings;
    std::uint64_t m_first = 0;              ///< first sample written
    std::uint64_t m_count = 0;              ///< samples written
};
