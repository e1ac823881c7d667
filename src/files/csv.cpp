#include "files/csv.h"

#include <bit>
#include <cstring>
#include <memory>

namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr std::uint64_t SCALE = 100000;  // five decimals
constexpr int MANTISSA_BITS = 52;
constexpr int EXPONENT_BIAS = 1075;      // value = mantissa * 2^(biased - 1075)
// Below 2^47 the scaled value stays below 2^64; beyond 100 fraction bits it
// rounds to zero. Everything outside goes the general way.
constexpr int MIN_FAST_SHIFT = 6;
constexpr int ZERO_SHIFT = 100;

constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// printf's "%.5f" without its cost for the values a logger produces: the
// double is scaled by 10^5 in exact integer arithmetic and rounded half to
// even, as glibc does for an exact tie. NaN, infinity and magnitudes of
// 2^47 and more are left to FormatFixed5.
std::size_t AppendFixed5(double value, char* out) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const int biased = static_cast<int>((bits >> MANTISSA_BITS) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << MANTISSA_BITS) - 1);
    int shift = EXPONENT_BIAS - 1;  // subnormal
    if (biased != 0) {
        mantissa |= std::uint64_t{1} << MANTISSA_BITS;
        shift = EXPONENT_BIAS - biased;
    }
    if (shift < MIN_FAST_SHIFT) {
        return FormatFixed5(value, out);
    }
    std::uint64_t scaled = 0;
    if (shift < ZERO_SHIFT) {
        const Uint128 product = Uint128{mantissa} * SCALE;
        scaled = static_cast<std::uint64_t>(product >> shift);
        const Uint128 remainder = product & ((Uint128{1} << shift) - 1);
        const Uint128 half = Uint128{1} << (shift - 1);
        if (remainder > half || (remainder == half && (scaled & 1) != 0)) {
            ++scaled;
        }
    }

    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    while (scaled >= 100) {
        p -= 2;
        std::memcpy(p, DIGIT_PAIRS + 2 * (scaled % 100), 2);
        scaled /= 100;
    }
    if (scaled >= 10) {
        p -= 2;
        std::memcpy(p, DIGIT_PAIRS + 2 * scaled, 2);
    } else {
        *--p = static_cast<char>('0' + scaled);
    }
    while (end - p < 6) {  // at least one integer digit before the point
        *--p = '0';
    }

    char* q = out;
    if ((bits >> 63) != 0) {
        *q++ = '-';
    }
    const std::size_t integerDigits = static_cast<std::size_t>(end - p) - 5;
    std::memcpy(q, p, integerDigits);
    q += integerDigits;
    *q++ = '.';
    std::memcpy(q, p + integerDigits, 5);
    q += 5;
    return static_cast<std::size_t>(q - out);
}

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
            p = AppendLineEnd(p + AppendFixed5(channel[i], p));
        }
    } else {
        for (std::size_t i = first; i < last; ++i) {
            for (int c = 0; c < 4; ++c) {
                p += AppendFixed5(channels[c][i], p);
                *p++ = ',';
            }
            p = AppendLineEnd(p - 1);
        }
    }
    return static_cast<std::size_t>(p - out);
}

FileError WriteCsvFile(const std::string& path, int selection, std::uint32_t count,
                       const double* const channels[4], CsvProgress* progress) {
    LockedFile file;
    if (!file.Open(path, LockedFile::Mode::Write)) {
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
    return file.Close() ? FileError::None : FileError::Write;
}
