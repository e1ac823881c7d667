// csv_snprintf FILE.dlf OUT.csv: the plain baseline as a program of its own,
// for comparisons with vosctl csv as a whole process.
#include <cstdio>
#include <cstring>
#include <vector>

#include "files/dlf.h"
#include "plain_csv.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: csv_snprintf FILE.dlf OUT.csv\n");
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    std::uint8_t header[DLF_HEADER_SIZE];
    if (in == nullptr || std::fread(header, 1, sizeof header, in) != sizeof header) {
        return 1;
    }
    std::uint32_t count = 0;
    std::memcpy(&count, header + 8, sizeof count);
    std::vector<double> samples(4 * std::size_t{count});
    if (std::fread(samples.data(), sizeof(double), samples.size(), in) != samples.size()) {
        return 1;
    }
    std::fclose(in);
    const double* const channels[4] = {samples.data(), samples.data() + count, samples.data() + 2 * std::size_t{count},
                                       samples.data() + 3 * std::size_t{count}};
    std::FILE* out = std::fopen(argv[2], "wb");
    return out != nullptr && PlainCsvLoop(out, channels, count) && std::fclose(out) == 0 ? 0 : 1;
}
