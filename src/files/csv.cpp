#include "files/csv.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

char* AppendLineEnd(char* p) {
    p[0] = '\r';
    p[1] = '\n';
    return p + 2;
}

}  // namespace

CsvProgressRange CsvProgressFor(std::uint64_t count) {
    CsvProgressRange range{};
    range.blocks = count / CSV_BLOCK_ROWS;
    range.rest = static_cast<std::uint32_t>(count % CSV_BLOCK_ROWS);
    range.maximum = static_cast<int>(range.blocks) + (range.rest != 0 ? 1 : 0);
    return range;
}

std::size_t FormatCsvBlock(int selection, const double* const channels[4], std::uint32_t first,
                           std::uint32_t rows, char* out) {
    char* p = out;
    const std::size_t last = std::size_t{first} + rows;
    if (selection >= 0 && selection < CSV_SELECT_ALL) {
        const double* channel = channels[selection];
        for (std::size_t i = first; i < last; ++i) {
            p = AppendLineEnd(p + FormatFixed5(channel[i], p));
        }
    } else {
        for (std::size_t i = first; i < last; ++i) {
            for (int c = 0; c < 4; ++c) {
                p += FormatFixed5(channels[c][i], p);
                *p++ = ',';
            }
            p = AppendLineEnd(p - 1);
        }
    }
    return static_cast<std::size_t>(p - out);
}

FileError WriteCsvFile(const std::string& path, int selection, std::uint32_t count,
                       const double* const channels[4], CsvProgress* progress) {
    const CsvRowSource rows = [channels](int channel, std::uint64_t first, std::uint32_t n, double* out) {
        std::memcpy(out, channels[channel] + first, std::size_t{n} * sizeof(double));
        return true;
    };
    return WriteCsvFile(path, selection, count, rows, progress);
}

FileError WriteCsvFile(const std::string& path, int selection, std::uint64_t count, const CsvRowSource& rows,
                       CsvProgress* progress) {
    ReplacementFile file;
    if (!file.Open(path)) {
        return FileError::Open;
    }
    const CsvProgressRange range = CsvProgressFor(count);
    if (progress != nullptr) {
        progress->Begin(range.maximum);
    }
    const bool one = selection >= 0 && selection < CSV_SELECT_ALL;
    const auto buffer = std::make_unique_for_overwrite<double[]>(4 * std::size_t{CSV_FETCH_ROWS});
    const double* chunk[4];
    for (int c = 0; c < 4; ++c) {
        chunk[c] = buffer.get() + c * std::size_t{CSV_FETCH_ROWS};
    }
    const auto text = std::make_unique_for_overwrite<char[]>(CSV_BLOCK_MAX_CHARS);
    // Chunks start on block boundaries: full blocks come whole from one chunk.
    for (std::uint64_t first = 0; first < count; first += CSV_FETCH_ROWS) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(CSV_FETCH_ROWS, count - first));
        for (int c = 0; c < 4; ++c) {
            if ((!one || c == selection) && !rows(c, first, n, buffer.get() + c * std::size_t{CSV_FETCH_ROWS})) {
                return FileError::Read;
            }
        }
        std::uint32_t row = 0;
        for (; row + CSV_BLOCK_ROWS <= n; row += CSV_BLOCK_ROWS) {
            const std::size_t size = FormatCsvBlock(selection, chunk, row, CSV_BLOCK_ROWS, text.get());
            if (!file.WriteAll(text.get(), size)) {
                return FileError::Write;
            }
            if (progress != nullptr) {
                progress->Position(static_cast<int>((first + row) / CSV_BLOCK_ROWS) + 1);
            }
        }
        for (; row < n; ++row) {
            const std::size_t size = FormatCsvBlock(selection, chunk, row, 1, text.get());
            if (!file.WriteAll(text.get(), size)) {
                return FileError::Write;
            }
        }
    }
    if (progress != nullptr) {
        if (range.rest != 0) {
            progress->Position(range.maximum);
        }
        progress->Finish();
    }
    return file.Commit() ? FileError::None : FileError::Write;
}
