#include "acquisition/run_journal.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "acquisition/record.h"
#include "device/trigger.h"
#include "files/journal.h"

namespace {

// Creates the working file PREFIX-000001.vrec of a prefix named after the
// local time the run started, whose PREFIX-000001.dlf is free too; `path`
// names it once it exists. Open when no such name could be taken.
FileError CreateFree(JournalWriter& writer, const std::string& folder, std::int64_t startedMicros,
                     const JournalHeader& header, std::string& path) {
    const std::time_t seconds = static_cast<std::time_t>(startedMicros / 1000000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stem[40];
    std::strftime(stem, sizeof stem, "run-%Y%m%d-%H%M%S", &local);
    std::error_code error;
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::string prefix = (std::filesystem::path(folder) / stem).string();
        if (attempt > 1) prefix += "-" + std::to_string(attempt);
        const std::string name = WorkingFileName(prefix, 1);
        if (std::filesystem::exists(SeriesFileName(prefix, 1), error)) continue;
        const FileError created = writer.Create(name, header);
        // A name another window took meanwhile is not ours: the next one is tried.
        if (created == FileError::Open && std::filesystem::exists(name, error)) continue;
        if (created != FileError::Open) path = name;
        return created;
    }
    return FileError::Open;
}

}  // namespace

RunJournal::RunJournal(std::string folder) : m_folder(std::move(folder)) {}

RunJournal::~RunJournal() { Finish(); }

void RunJournal::Start(const AcquisitionSettings& settings, double* const channels[4],
                       const std::atomic<std::uint32_t>& stored) {
    if (m_folder.empty() || m_thread.joinable()) return;
    m_settings = settings;
    for (int c = 0; c < 4; ++c) m_channels[c] = channels[c];
    m_stored = &stored;
    m_startedMicros = UtcMicrosNow();
    m_thread = std::thread([this] { Follow(); });
}

void RunJournal::Finish() {
    if (!m_thread.joinable()) return;
    {
        const std::lock_guard lock(m_mutex);
        m_finish = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void RunJournal::Follow() {
    JournalWriter writer;
    std::string path;
    std::uint32_t written = 0;
    bool givenUp = false;
    const auto giveUp = [&] {
        std::fprintf(stderr, "vosviewer: cannot write %s; the run goes on in memory only\n",
                     path.empty() ? m_folder.c_str() : path.c_str());
        writer.Close();
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove(path, ignored);
        givenUp = true;
    };
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (m_wake.wait_for(lock, RECORD_FLUSH_PERIOD, [this] { return m_finish; })) break;
        }
        const std::uint32_t stored = m_stored->load(std::memory_order_acquire);
        if (givenUp || stored <= written) continue;
        if (!writer.IsOpen()) {
            std::error_code error;
            std::filesystem::create_directories(m_folder, error);
            JournalHeader header;
            header.split = m_settings.sampleCount;
            header.settings.clockDivider = m_settings.clockDivider;
            header.settings.triggerChannel = m_settings.triggerChannel;
            header.settings.triggerType = m_settings.triggerType;
            header.settings.threshold = m_settings.threshold;
            // Without a trigger the first sample is taken as the run starts. A
            // trigger fires later: then the first sample was taken as many
            // sample periods ago as there are samples now.
            const std::int64_t firstMicros =
                m_settings.triggerType == TRIGGER_NONE
                    ? m_startedMicros
                    : UtcMicrosNow() - static_cast<std::int64_t>(stored) * m_settings.clockDivider * LOGGER_FRAME_MICROS;
            header.settings.stamp = RecordingStamp{firstMicros, NewRecordingIdentity(), 1, 0};
            if (CreateFree(writer, m_folder, m_startedMicros, header, path) != FileError::None) {
                giveUp();
                continue;
            }
        }
        const double* channels[4];
        for (int c = 0; c < 4; ++c) channels[c] = m_channels[c] + written;
        if (writer.Append(channels, stored - written) != FileError::None || writer.Sync() != FileError::None) {
            giveUp();
            continue;
        }
        written = stored;
    }
    writer.Close();
    std::error_code ignored;
    if (!path.empty() && !givenUp) std::filesystem::remove(path, ignored);
}
