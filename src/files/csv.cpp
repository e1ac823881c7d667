#include "files/csv.h"

#include <cstring>
#include <memory>

namespace {

char* AppendLineEnd(char* p) {
    p[0] = '\r';
    p[1] = '\n';
    return p + 2;
}

}  // namespace

CsvProgressRange CsvProgressFor(std::uint32_t count) {
    CsvProgressRange range{};
    range.blocks = count / CSV_BLOCK_ROWS;
    range.rest = count % CSV_BLOCK_ROWS;
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
    ReplacementFile file;
    if (!file.Open(path)) {
        return FileError::Open;
    }
    const CsvProgressRange range = CsvProgressFor(count);
    if (progress != nullptr) {
        progress->Begin(range.maximum);
    }
    const auto text = std::make_unique_for_overwrite<char[]>(CSV_BLOCK_MAX_CHARS);
    std::uint32_t row = 0;
    for (std::uint32_t b = 0; b < range.blocks; ++b, row += CSV_BLOCK_ROWS) {
        const std::size_t size = FormatCsvBlock(selection, channels, row, CSV_BLOCK_ROWS, text.get());
        if (!file.WriteAll(text.get(), size)) {
            return FileError::Write;
        }
        if (progress != nullptr) {
            progress->Position(static_cast<int>(b) + 1);
        }
    }
    for (; row < count; ++row) {
        const std::size_t size = FormatCsvBlock(selection, channels, row, 1, text.get());
        if (!file.WriteAll(text.get(), size)) {
            return FileError::Write;
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
