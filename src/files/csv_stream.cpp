#include "files/csv_stream.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Room per row a logger's values need ("-9.99999" four times); a chunk
// whose rows are longer grows its buffer as it goes.
constexpr std::size_t TYPICAL_ROW_CHARS = 48;

// A growable text buffer without the zero-filling of std::vector.
class ChunkText {
public:
    char* Reserve(std::size_t used, std::size_t more) {
        if (used + more > m_capacity) {
            const std::size_t capacity = std::max(used + more, 2 * m_capacity);
            auto grown = std::make_unique_for_overwrite<char[]>(capacity);
            if (used != 0) {
                std::memcpy(grown.get(), m_text.get(), used);
            }
            m_text = std::move(grown);
            m_capacity = capacity;
        }
        return m_text.get() + used;
    }
    const char* Data() const { return m_text.get(); }

private:
    std::unique_ptr<char[]> m_text;
    std::size_t m_capacity = 0;
};

// The turn of each chunk's write, shared by the two formatting threads.
class WriteTurns {
public:
    // Waits until chunk `k` may be written; false once a write has failed.
    bool Await(std::uint32_t k) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_failed || m_next == k; });
        return !m_failed;
    }
    void Done(bool ok) {
        {
            std::lock_guard lock(m_mutex);
            m_failed = m_failed || !ok;
            ++m_next;
        }
        m_changed.notify_all();
    }
    bool Failed() {
        std::lock_guard lock(m_mutex);
        return m_failed;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint32_t m_next = 0;
    bool m_failed = false;
};

// Formats and writes chunks first, first + step, ... of the record.
void WriteChunks(const CsvWrite& write, WriteTurns& turns, int selection, std::uint32_t count,
                 const double* const channels[4], std::uint32_t first, std::uint32_t step) {
    ChunkText text;
    text.Reserve(0, std::size_t{CSV_STREAM_CHUNK_ROWS} * TYPICAL_ROW_CHARS + CSV_BLOCK_MAX_CHARS);
    const std::uint32_t chunks = (count + CSV_STREAM_CHUNK_ROWS - 1) / CSV_STREAM_CHUNK_ROWS;
    for (std::uint32_t k = first; k < chunks; k += step) {
        const std::uint32_t begin = k * CSV_STREAM_CHUNK_ROWS;
        const std::uint32_t end = std::min(count, begin + CSV_STREAM_CHUNK_ROWS);
        std::size_t used = 0;
        for (std::uint32_t row = begin; row < end; row += CSV_BLOCK_ROWS) {
            const std::uint32_t rows = std::min(CSV_BLOCK_ROWS, end - row);
            used += FormatCsvBlock(selection, channels, row, rows, text.Reserve(used, CSV_BLOCK_MAX_CHARS));
        }
        if (!turns.Await(k)) {
            return;
        }
        turns.Done(write(text.Data(), used));
    }
}

}  // namespace

FileError WriteCsvStream(const CsvWrite& write, int selection, std::uint32_t count, const double* const channels[4]) {
    WriteTurns turns;
    if (count <= CSV_STREAM_CHUNK_ROWS) {
        WriteChunks(write, turns, selection, count, channels, 0, 1);
    } else {
        std::thread helper([&] { WriteChunks(write, turns, selection, count, channels, 1, 2); });
        WriteChunks(write, turns, selection, count, channels, 0, 2);
        helper.join();
    }
    return turns.Failed() ? FileError::Write : FileError::None;
}
