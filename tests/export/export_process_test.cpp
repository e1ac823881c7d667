// vosctl export as a user runs it; every file read back by readers apart
// from the libraries that wrote it: h5py and h5dump for HDF5, libmatio's
// reader and h5py for MAT 7.3.
#include <gtest/gtest.h>

#include <matio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_process.h"

namespace {

using clitest::Result;
using nlohmann::json;

constexpr std::uint32_t SIZES[] = {1000, 1200, 800};
constexpr std::uint32_t TOTAL = 3000;
constexpr std::uint64_t STAMPED_FIRST[] = {0, 1000, 2500};  // 300 samples lost before file 3
constexpr std::int64_t START = 1796704200250000;            // 2026-12-08T04:30:00.250000Z

double FromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string Hex(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
    return text;
}

// What a program prints on standard output.
std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

json ReadBack(const std::string& path) {
    const std::string text = Output(std::string(H5PY_PYTHON) + " " + READ_EXPORT + " '" + path + "'");
    return text.empty() ? json() : json::parse(text);
}

// Three files of one recording at 10 kHz, the third after 300 lost samples,
// CHn = n + i/1000 V with a NaN payload, -0.0 and +-1e300 among them.
struct Recording {
    TempDir dir;
    std::vector<std::string> files{dir.Path("night-000001.dlf"), dir.Path("night-000002.dlf"),
                                   dir.Path("night-000003.dlf")};
    std::vector<double> all[4];

    Recording() {
        for (int ch = 0; ch < 4; ++ch) {
            for (std::uint32_t i = 0; i < TOTAL; ++i) all[ch].push_back(ch + i * 0.001);
        }
        all[0][5] = FromBits(0x7ff8000000000123);
        all[0][1999] = FromBits(0xfff0000000000001);
        all[1][1000] = -0.0;
        all[2][2199] = 1e300;
        all[3][2200] = -1e300;
        std::uint32_t first = 0;
        for (std::size_t f = 0; f < 3; ++f) {
            DataFileHeader header;
            header.triggerChannel = 2;
            header.triggerType = 3;
            header.threshold = 1.25;
            header.stamp = RecordingStamp{START + 100 * static_cast<std::int64_t>(STAMPED_FIRST[f]),
                                          {0xC3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC3}, f + 1,
                                          STAMPED_FIRST[f]};
            std::vector<double> part[4];
            for (int ch = 0; ch < 4; ++ch) {
                part[ch].assign(all[ch].begin() + first, all[ch].begin() + first + SIZES[f]);
            }
            clitest::WriteRecord(files[f], header, part);
            first += SIZES[f];
        }
    }

    std::vector<std::string> Hexes(int ch, std::uint64_t first, std::uint64_t last) const {
        std::vector<std::string> hexes;
        for (std::uint64_t i = first; i < last; ++i) hexes.push_back(Hex(all[ch][i]));
        return hexes;
    }
};

// libmatio's own reader: a column's bits, and a char field of `info`.
std::vector<std::string> MatColumn(mat_t* mat, const char* name) {
    std::vector<std::string> hexes;
    matvar_t* variable = Mat_VarRead(mat, name);
    if (variable == nullptr) return {"missing"};
    EXPECT_EQ(variable->rank, 2);
    EXPECT_EQ(variable->dims[1], 1u);
    const double* data = static_cast<const double*>(variable->data);
    for (std::size_t i = 0; i < variable->dims[0]; ++i) hexes.push_back(Hex(data[i]));
    Mat_VarFree(variable);
    return hexes;
}

std::string MatText(mat_t* mat, const char* field) {
    matvar_t* info = Mat_VarRead(mat, "info");
    if (info == nullptr) return "missing";
    std::string text;
    if (const matvar_t* value = Mat_VarGetStructFieldByName(info, field, 0); value != nullptr && value->data) {
        for (std::size_t i = 0; i < value->nbytes / value->data_size; ++i) {
            text += value->data_size == 1 ? static_cast<const char*>(value->data)[i]
                                           : static_cast<char>(static_cast<const std::uint16_t*>(value->data)[i]);
        }
    }
    Mat_VarFree(info);
    return text;
}

TEST(VosctlExport, EachFormatReadsBackBitForBitWithItsFacts) {
    const Recording recording;
    const std::string gapUtc = "2026-12-08T04:30:00.500000Z";
    struct Case {
        std::string name;
        std::vector<std::string> options;
        bool mat;
        std::vector<int> channels;
        std::uint64_t first, last;
        std::string firstUtc;
        json gaps;  // HDF5's table: position, lost samples, UTC
        bool compressed;
    };
    const Case cases[] = {
        {"whole.h5", {}, false, {0, 1, 2, 3}, 0, TOTAL, "2026-12-08T04:30:00.250000Z", {{2200, 300, gapUtc}}, false},
        {"packed.HDF5", {"--compress", "--times"}, false, {0, 1, 2, 3}, 0, TOTAL, "2026-12-08T04:30:00.250000Z",
         {{2200, 300, gapUtc}}, true},
        // Across files 1, 2 and 3, by index and by UTC.
        {"part.h5", {"--from", "999", "--to", "2201", "--channel", "CH1"}, false, {1}, 999, 2201,
         "2026-12-08T04:30:00.349900Z", {{1201, 300, gapUtc}}, false},
        {"before-gap.h5", {"--from", "2026-12-08T04:30:00.3499Z", "--to", "2200"}, false, {0, 1, 2, 3}, 999, 2200,
         "2026-12-08T04:30:00.349900Z", json::array(), false},
        {"whole.mat", {}, true, {0, 1, 2, 3}, 0, TOTAL, "2026-12-08T04:30:00.250000Z", {{2200, 300, gapUtc}}, false},
        {"part.bin", {"--format", "mat", "--compress", "--from", "0.0999s", "--to", "2201", "--channel", "CH3"}, true,
         {3}, 999, 2201, "2026-12-08T04:30:00.349900Z", {{1201, 300, gapUtc}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = recording.dir.Path(c.name);
        std::vector<std::string> args{"export", recording.dir.Path("night"), "-o", out};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = clitest::Run(recording.dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        const json file = ReadBack(out);
        ASSERT_TRUE(file.is_object()) << "h5py could not read " << out;
        const std::uint64_t count = c.last - c.first;
        std::vector<std::string> names;
        for (const int ch : c.channels) {
            const std::string name = "CH" + std::to_string(ch);
            names.push_back(name);
            const json& data = file["data"][name];
            EXPECT_TRUE(data["hex"] == recording.Hexes(ch, c.first, c.last)) << name;
            EXPECT_EQ(data["shape"], (c.mat ? json{1, count} : json{count}));
            EXPECT_EQ(data["compression"], c.compressed ? json("gzip") : json());
            if (!c.mat) {
                EXPECT_EQ(data["chunks"], json{count});
                EXPECT_EQ(data["shuffle"], c.compressed);
                EXPECT_EQ(data["attrs"], (json{{"first_sample_utc", c.firstUtc}, {"sampling_period", 0.0001},
                                               {"units", "V"}}));
            }
        }
        names.push_back(c.mat ? "info" : "gaps");
        if (c.name == "packed.HDF5") names.push_back("times");
        EXPECT_EQ(file["names"], json(names));
        const json facts = {{"clock", "10kHz"}, {"first_sample_utc", c.firstUtc},
                            {"recording_identity", "c30000000000000000000000000000c3"}, {"sampling_period", 0.0001},
                            {"threshold", 1.25}, {"trigger", "Slope-Falling"}, {"trigger_channel", "CH2"}};
        if (c.mat) {
            json info = facts;
            info.update({{"clock_divider", 1.0}, {"first_sample", c.first}, {"sample_count", count}, {"units", "V"},
                         {"gap_position", c.gaps[0][0]}, {"gap_lost_samples", 300}, {"gap_utc", gapUtc}});
            EXPECT_EQ(file["info"], info);
            mat_t* mat = Mat_Open(out.c_str(), MAT_ACC_RDONLY);
            ASSERT_NE(mat, nullptr);
            for (const int ch : c.channels) {
                EXPECT_TRUE(MatColumn(mat, ("CH" + std::to_string(ch)).c_str()) == recording.Hexes(ch, c.first, c.last));
            }
            EXPECT_EQ(MatText(mat, "first_sample_utc"), c.firstUtc);
            EXPECT_EQ(MatText(mat, "trigger"), "Slope-Falling");
            Mat_Close(mat);
        } else {
            json attrs = facts;
            attrs.update({{"clock_divider", 1}, {"first_sample", c.first}, {"sample_count", count},
                          {"sampling_period_units", "s"}});
            EXPECT_EQ(file["attrs"], attrs);
            EXPECT_EQ(file["gaps"], c.gaps);
        }
    }
    // The times: a sample period apart, and the 30 ms of the gap before sample 2200.
    const json times = ReadBack(recording.dir.Path("packed.HDF5"))["data"]["times"];
    EXPECT_EQ(times["attrs"], (json{{"origin", "2026-12-08T04:30:00.250000Z"}, {"units", "s"}}));
    const auto at = [&](std::size_t i) { return FromBits(std::stoull(times["hex"][i].get<std::string>(), nullptr, 16)); };
    EXPECT_EQ(at(0), 0.0);
    EXPECT_NEAR(at(1), 0.0001, 1e-15);
    EXPECT_NEAR(at(2199), 0.2199, 1e-12);
    EXPECT_NEAR(at(2200), 0.25, 1e-12);
    EXPECT_NEAR(at(2999), 0.3299, 1e-12);
    // h5dump, the HDF5 tools' own reader, shows the gap table and the units.
    const std::string dump = Output(std::string(H5DUMP) + " -d /gaps -a /CH0/units '" + recording.dir.Path("whole.h5") + "'");
    EXPECT_NE(dump.find("(0): {\n         2200,\n         300,\n         \"" + gapUtc + "\"\n      }"),
              std::string::npos) << dump;
    EXPECT_NE(dump.find("(0): \"V\""), std::string::npos) << dump;
}

TEST(VosctlExport, RefusalsWriteNothingAndKeepTheOldFile) {
    const Recording recording;
    const auto path = [&](const char* name) { return recording.dir.Path(name); };
    const std::string first = recording.files[0];
    const std::string old = path("old.h5");
    clitest::WriteText(old, "old export");
    std::filesystem::create_hard_link(first, path("alias.h5"));
    DataFileHeader slow;
    slow.clockDivider = 2;
    clitest::WriteRecord(path("slow.dlf"), slow, {{1.0}, {1.0}, {1.0}, {1.0}});
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{first, "-o", path("alias.h5")}, 2,
         "vosctl: パラメータが無効です (" + path("alias.h5") + " is the input " + first +
             "; nothing was written, choose another output)\n"},
        {{first, "-o", recording.files[1]}, 2,
         "vosctl: パラメータが無効です (--output: \"" + recording.files[1] +
             "\" ends in .dlf; an export is never written over a data file's name; see vosctl --help)\n"},
        {{first, "-o", path("old.txt")}, 2,
         "vosctl: " + path("old.txt") + " names no export format (name it .h5, .hdf5 or .mat, or give --format h5 "
         "or --format mat)\n"},
        {{first, "--format", "h5", "-o", "-"}, 2,
         "vosctl: an export is never written to standard output (HDF5 and MAT files are written in place; give a "
         "file name)\n"},
        {{first, "--format", "h5", "-o", "/dev/null"}, 4,
         "vosctl: ファイルオープンエラーです (/dev/null: cannot open the file: Illegal seek)\n"},
        {{first, path("slow.dlf"), "-o", old}, 4,
         "vosctl: ファイルフォーマットエラーです (" + first + " (10kHz) and " + path("slow.dlf") +
             " (5kHz) have different clocks; they do not form one record, nothing was written)\n"},
        {{first, first, "-o", old}, 4,
         "vosctl: ファイルフォーマットエラーです (" + first +
             " is named twice; each file of a record is given once; nothing was written)\n"},
        {{first, "-o", old, "--to", "1001"}, 2,
         "vosctl: --to 1001 lies outside the record (the record holds samples 0 to 999, from 0s to 0.0999s after "
         "its start, UTC 2026-12-08T04:30:00.250000Z to 2026-12-08T04:30:00.349900Z)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[2] + " " + c.args.back());
        std::vector<std::string> args{"export"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = clitest::Run(recording.dir, args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(clitest::ReadText(old), "old export");
    EXPECT_TRUE(clitest::HiddenFiles(recording.dir.Path("")).empty());
    EXPECT_FALSE(clitest::Exists(path("old.txt")));
}

// FILES sparse files of a million zero samples each, unstamped.
std::vector<std::string> SparseSeries(const TempDir& dir, int files) {
    std::vector<std::string> paths;
    for (int f = 1; f <= files; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "long-%06d.dlf", f);
        paths.push_back(dir.Path(name));
        DataFileHeader header;
        header.sampleCount = DLF_MAX_SAMPLE_COUNT;
        std::uint8_t bytes[DLF_HEADER_SIZE];
        EncodeHeader(header, bytes);
        clitest::WriteText(paths.back(), std::string(reinterpret_cast<const char*>(bytes), DLF_HEADER_SIZE));
        std::filesystem::resize_file(paths.back(), DLF_HEADER_SIZE + 32ull * DLF_MAX_SAMPLE_COUNT);
    }
    return paths;
}

// A series longer than memory would hold (here 24 files, 768 MB of samples)
// streams in chunks of 65536 samples; a signal or a full disk keeps the old file.
TEST(VosctlExport, ALongSeriesStreamsAndAStoppedExportKeepsTheOldFile) {
    const TempDir dir;
    SparseSeries(dir, 24);
    const std::string out = dir.Path("long.h5");
    const std::string prefix = dir.Path("long");
    clitest::WriteText(out, "old export");
    {
        // SIGTERM once the progress line shows, as a user's Ctrl-C would come.
        clitest::TerminalRun run(dir, "", {"export", prefix, "-o", out, "--compress"});
        EXPECT_TRUE(run.ReadUntil([](const std::string& shown) { return shown.find("export [") != std::string::npos; }));
        run.Signal(SIGTERM);
        EXPECT_EQ(run.Finish(), 128 + SIGTERM);
    }
    EXPECT_EQ(clitest::ReadText(out), "old export");
    EXPECT_TRUE(clitest::HiddenFiles(dir.Path("")).empty());
    // A file size limit stands for a full disk: the write fails, the old file stays.
    for (const std::string& target : {out, dir.Path("long.mat")}) {
        clitest::WriteText(target, "old export");
        const Result full = clitest::Run(dir, {"-c", "ulimit -f 4096; exec \"$0\" \"$@\"", clitest::VOSCTL, "export",
                                               prefix, "-o", target, "--channel", "CH2"},
                                         {}, "/bin/sh");
        EXPECT_EQ(full.status, 4) << target;
        EXPECT_EQ(full.err, "vosctl: ファイル書き込みエラーです (" + target +
                                ": cannot write the file: the file is larger than allowed)\n");
        EXPECT_EQ(clitest::ReadText(target), "old export");
        EXPECT_TRUE(clitest::HiddenFiles(dir.Path("")).empty());
    }
    // The whole series, compressed, in bounded memory (under AddressSanitizer
    // with a small quarantine, which would otherwise hold 256 MB of freed blocks).
    const clitest::Environment environment({"ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=4"});
    const pid_t pid = clitest::Spawn({"export", prefix, "-o", out, "--compress"}, environment, STDOUT_FILENO,
                                     STDERR_FILENO);
    int status = 0;
    rusage usage{};
    ASSERT_EQ(::wait4(pid, &status, 0, &usage), pid);
    EXPECT_EQ(status, 0);
    // Far below the 768 MB of samples either way; AddressSanitizer's shadow
    // and allocator add about 80 MB.
#if defined(__SANITIZE_ADDRESS__)
    constexpr long LIMIT_KB = 192 * 1024;
#else
    constexpr long LIMIT_KB = 64 * 1024;
#endif
    EXPECT_LT(usage.ru_maxrss, LIMIT_KB) << "kB";
    const json file = ReadBack(out);
    for (const char* name : {"CH0", "CH3"}) {
        EXPECT_EQ(file["data"][name]["shape"], json{24000000});
        EXPECT_EQ(file["data"][name]["chunks"], json{65536});
        EXPECT_EQ(file["data"][name]["compression"], "gzip");
        EXPECT_EQ(file["data"][name]["shuffle"], true);
    }
    EXPECT_EQ(file["attrs"]["sample_count"], 24000000);
}

}  // namespace
