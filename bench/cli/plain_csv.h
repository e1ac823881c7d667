#pragma once

// The baseline every CSV figure is measured against: what a straightforward
// exporter does, snprintf("%.5f") per value and one buffered stdio write per row.
#include <cstdint>
#include <cstdio>

inline bool PlainCsvLoop(std::FILE* out, const double* const channels[4], std::uint32_t count) {
    char row[4 * 330];
    for (std::uint32_t i = 0; i < count; ++i) {
        int used = 0;
        for (int c = 0; c < 4; ++c) {
            used += std::snprintf(row + used, sizeof row - static_cast<std::size_t>(used), "%.5f", channels[c][i]);
            row[used++] = c < 3 ? ',' : '\r';
        }
        row[used++] = '\n';
        if (std::fwrite(row, 1, static_cast<std::size_t>(used), out) != static_cast<std::size_t>(used)) {
            return false;
        }
    }
    return true;
}
