// vosctl's file commands (info, csv, plot) run as processes on real data files.
#include <nlohmann/json.hpp>

#include <cmath>
#include <iostream>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>

#include "cli_process.h"
#include "files/dlf.h"

namespace {

using clitest::Exists;
using clitest::NO_DRIVER;
using clitest::ONE_LOGGER;
using clitest::Result;
using clitest::WriteRecord;

// A three-sample record with values whose %.5f texts are known.
void WriteKnownRecord(const std::string& path) {
    DataFileHeader header;
    header.clockDivider = 5;
    header.triggerChannel = 2;
    header.triggerType = 3;
    header.threshold = 2.5;
    header.displayMode = 1;
    WriteRecord(path, header, {{1.5, 9.75, -0.25}, {2.0, 2.0, 2.0}, {0.123456, 0.1, 0.2}, {5.0, 6.0, 7.0}});
}

TEST(VosctlInfo, DescribesTheFileAsOpenAndTheSummaryShowIt) {
    TempDir dir;
    const std::string path = dir.Path("known.dlf");
    WriteKnownRecord(path);
    const Result text = clitest::Run(dir, {"info", path});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, path +
                            "\n"
                            "  format version  1\n"
                            "  clock           2kHz (divider 5)\n"
                            "  samples         3\n"
                            "  duration        1.5 mS\n"
                            "  trigger         CH2, Slope-Falling\n"
                            "  threshold       2.50000 V\n"
                            "  display mode    overlay\n"
                            "  CH0             max 9.75000 V  min -0.25000 V\n"
                            "  CH1             max 2.00000 V  min 2.00000 V\n"
                            "  CH2             max 0.20000 V  min 0.10000 V\n"
                            "  CH3             max 7.00000 V  min 5.00000 V\n");

    // A channel of NaN only has no number, and a wide value takes the
    // exponent, as the window's Summary shows them.
    const double nan = std::nan("");
    const std::string odd = dir.Path("odd.dlf");
    WriteRecord(odd, DataFileHeader{}, {{nan, nan, nan}, {-1e300, 0.5, 1.0}, {nan, 2.0, nan}, {1.0, 1.0, 1.0}});
    const Result summary = clitest::Run(dir, {"info", odd});
    EXPECT_EQ(summary.status, 0) << summary.err;
    EXPECT_NE(summary.out.find("  CH0             max nan V  min nan V\n"
                               "  CH1             max 1.00000 V  min -1.00000e+300 V\n"
                               "  CH2             max 2.00000 V  min 2.00000 V\n"),
              std::string::npos)
        << summary.out;

    const std::string copy = dir.Path("copy.dlf");
    std::filesystem::copy_file(path, copy);
    const Result json = clitest::Run(dir, {"info", "--json", path, copy});
    EXPECT_EQ(json.status, 0) << json.err;
    std::istringstream lines(json.out);
    int objects = 0;
    for (std::string line; std::getline(lines, line); ++objects) {
        const nlohmann::json info = nlohmann::json::parse(line);
        EXPECT_EQ(info["format_version"], 1);
        EXPECT_EQ(info["clock"], "2kHz");
        EXPECT_EQ(info["sample_count"], 3);
        EXPECT_EQ(info["trigger"]["type"], "Slope-Falling");
        EXPECT_EQ(info["summary"][0]["maximum"], "9.75000 V");
    }
    EXPECT_EQ(objects, 2);
}

TEST(VosctlInfo, FilesOpenRefusesGetOpensMessage) {
    constexpr const char* OPEN = "ファイルオープンエラーです";
    constexpr const char* FORMAT = "ファイルフォーマットエラーです";
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* message;
    };
    const auto header = [](auto change, std::size_t body) {
        return [change, body](const std::string& path) {
            DataFileHeader h;
            h.sampleCount = 2;
            change(h);
            std::uint8_t bytes[DLF_HEADER_SIZE];
            EncodeHeader(h, bytes);
            clitest::WriteText(path, std::string(reinterpret_cast<char*>(bytes), sizeof bytes) + std::string(body, '\0'));
        };
    };
    const Case cases[] = {
        {"missing", [](const std::string&) {}, OPEN},
        {"directory", [](const std::string& path) { std::filesystem::create_directory(path); }, OPEN},
        {"shorter than a header", [](const std::string& path) { clitest::WriteText(path, std::string(100, '\0')); }, FORMAT},
        {"divider 0", header([](DataFileHeader& h) { h.clockDivider = 0; }, 64), FORMAT},
        {"no samples", header([](DataFileHeader& h) { h.sampleCount = 0; }, 64), FORMAT},
        {"1000001 samples", header([](DataFileHeader& h) { h.sampleCount = 1000001; }, 64), FORMAT},
        {"trigger type 5", header([](DataFileHeader& h) { h.triggerType = 5; }, 64), FORMAT},
        {"display mode 2", header([](DataFileHeader& h) { h.displayMode = 2; }, 64), FORMAT},
        {"body one byte short", header([](DataFileHeader&) {}, 63), FORMAT},
    };
    TempDir dir;
    const std::string good = dir.Path("good.dlf");
    WriteKnownRecord(good);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Path(std::string(c.name) + ".dlf");
        c.make(path);
        const Result result = clitest::Run(dir, {"info", path, good});
        EXPECT_EQ(result.status, 4);
        EXPECT_EQ(result.err.rfind(std::string("vosctl: ") + c.message + " (" + path + ": ", 0), 0u) << result.err;
        // The good file after the bad one is still described.
        EXPECT_EQ(result.out.rfind(good + "\n", 0), 0u) << result.out;
    }
}

TEST(VosctlCsv, TwoFilesMakeOneTable) {
    TempDir dir;
    const std::string first = dir.Path("first.dlf");
    const std::string second = dir.Path("second.dlf");
    WriteRecord(first, {}, {{1.0, 2.0}, {-1.0, 0.5}, {3.333333, 0.0}, {10.0, 0.000004}});
    WriteRecord(second, {}, {{7.5}, {8.25}, {9.125}, {0.000006}});
    struct Case {
        std::vector<std::string> options;
        std::string csv;
    };
    const Case cases[] = {
        {{},
         "1.00000,-1.00000,3.33333,10.00000\r\n2.00000,0.50000,0.00000,0.00000\r\n"
         "7.50000,8.25000,9.12500,0.00001\r\n"},
        {{"--channel", "CH1"}, "-1.00000\r\n0.50000\r\n8.25000\r\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"csv", first, second};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result toStdout = clitest::Run(dir, args);
        EXPECT_EQ(toStdout.status, 0) << toStdout.err;
        EXPECT_EQ(toStdout.out, c.csv);
        args.insert(args.end(), {"-o", dir.Path("out.csv")});
        const Result toFile = clitest::Run(dir, args);
        EXPECT_EQ(toFile.status, 0) << toFile.err;
        EXPECT_EQ(toFile.out, "");
        EXPECT_EQ(clitest::ReadText(dir.Path("out.csv")), c.csv);
    }
    // A bad second file stops the export before the output is touched.
    clitest::WriteText(dir.Path("out.csv"), "kept");
    const Result bad = clitest::Run(dir, {"csv", first, dir.Path("missing.dlf"), "-o", dir.Path("out.csv")});
    EXPECT_EQ(bad.status, 4);
    EXPECT_EQ(clitest::ReadText(dir.Path("out.csv")), "kept");
}

TEST(VosctlCsv, WriteFailuresEndWithTheWindowsMessage) {
    TempDir dir;
    const std::string record = dir.Path("big.dlf");
    std::vector<double> values(100000, 1.25);
    WriteRecord(record, {}, {values, values, values, values});

    const Result full = clitest::Run(dir, {"csv", record, "-o", "/dev/full"});
    EXPECT_EQ(full.status, 4);
    EXPECT_EQ(full.err, "vosctl: ファイル書き込みエラーです (/dev/full: cannot write the file: no space left on the device)\n");

    const Result noDirectory = clitest::Run(dir, {"csv", record, "-o", dir.Path("no/such.csv")});
    EXPECT_EQ(noDirectory.status, 4);
    EXPECT_EQ(noDirectory.err.rfind("vosctl: ファイルオープンエラーです (", 0), 0u) << noDirectory.err;

    // A file another program holds locked is neither emptied nor written.
    const std::string locked = dir.Path("locked.csv");
    clitest::WriteText(locked, "kept");
    const int lockFd = ::open(locked.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
    const Result busy = clitest::Run(dir, {"csv", record, "-o", locked});
    ::close(lockFd);
    EXPECT_EQ(busy.status, 4);
    EXPECT_EQ(busy.err.rfind("vosctl: ファイルオープンエラーです (", 0), 0u) << busy.err;
    EXPECT_EQ(clitest::ReadText(locked), "kept");
}

TEST(VosctlCsv, AFailedWriteLeavesTheOldFileAsItWas) {
    TempDir dir;
    const std::string record = dir.Path("big.dlf");
    std::vector<double> values(100000, 1.25);
    WriteRecord(record, {}, {values, values, values, values});
    const std::string target = dir.Path("old.csv");
    const std::string old(5000, 'x');
    clitest::WriteText(target, old);

    // The file-size limit stops the write after 64 KiB of the 3.3 MB table.
    const int outFd = ::open(dir.Path("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int errFd = ::open(dir.Path("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const pid_t pid = clitest::Spawn({"--fsize=65536", clitest::VOSCTL, "csv", record, "-o", target}, {}, outFd,
                                     errFd, "/usr/bin/prlimit");
    ::close(outFd);
    ::close(errFd);
    EXPECT_EQ(clitest::WaitExit(pid), 4);
    EXPECT_EQ(clitest::ReadText(dir.Path("err")).rfind("vosctl: ファイル書き込みエラーです (", 0), 0u);
    EXPECT_EQ(clitest::ReadText(target), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path("")), {}), 4) << "a new file was left behind";
}

// Identities of two recordings as info shows them.
constexpr const char* ID_A = "a10000000000000000000000000000a1";
constexpr const char* ID_B = "b20000000000000000000000000000b2";

// Writes file `index` of recording 0xA1 or 0xB2: two samples per channel at
// 1 kHz, CH0 counting the samples of the recording, the first taken at
// 2026-12-08T04:30:00.250000Z plus 1 ms per sample before it.
void WriteSeriesFile(const std::string& path, std::uint8_t recording, std::uint64_t index, std::uint64_t firstSample) {
    DataFileHeader header;
    header.clockDivider = 10;
    header.stamp = RecordingStamp{1796704200250000 + 1000 * static_cast<std::int64_t>(firstSample),
                                  {recording, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, recording}, index, firstSample};
    const double first = static_cast<double>(firstSample);
    WriteRecord(path, header, {{first, first + 1}, {0, 0}, {0, 0}, {0, 0}});
}

// Recording A's files 1 to 3; u-000001.dlf of recording B, which took the
// name of A's first file, before A's u-000002.dlf; plain files at 10 kHz and 1 kHz.
struct SeriesFiles {
    TempDir dir;
    std::string a1 = dir.Path("a-000001.dlf");
    std::string a2 = dir.Path("a-000002.dlf");
    std::string a3 = dir.Path("a-000003.dlf");
    std::string u1 = dir.Path("u-000001.dlf");
    std::string u2 = dir.Path("u-000002.dlf");
    std::string plain10k = dir.Path("monday.dlf");
    std::string plain1k = dir.Path("tuesday.dlf");

    SeriesFiles() {
        WriteSeriesFile(a1, 0xA1, 1, 0);
        WriteSeriesFile(a2, 0xA1, 2, 2);
        WriteSeriesFile(a3, 0xA1, 3, 4);
        WriteSeriesFile(u1, 0xB2, 1, 0);
        WriteSeriesFile(u2, 0xA1, 2, 2);
        WriteRecord(plain10k, {}, {{7.5}, {0}, {0}, {0}});
        DataFileHeader slow;
        slow.clockDivider = 10;
        WriteRecord(plain1k, slow, {{8.5}, {0}, {0}, {0}});
    }
};

// csv and plot join files only where they form one record; otherwise the
// output is left as it was.
TEST(VosctlCsv, JoinsOnlyFilesThatFormOneRecord) {
    SeriesFiles files;
    const std::string output = files.dir.Path("out.csv");
    const std::string picture = files.dir.Path("out.png");
    struct Case {
        const char* name;
        std::vector<std::string> inputs;
        std::string reason;  // empty: joined
        std::string csv;
    };
    const Case cases[] = {
        {"one recording", {files.a1, files.a2, files.a3}, "",
         "0.00000,0.00000,0.00000,0.00000\r\n1.00000,0.00000,0.00000,0.00000\r\n"
         "2.00000,0.00000,0.00000,0.00000\r\n3.00000,0.00000,0.00000,0.00000\r\n"
         "4.00000,0.00000,0.00000,0.00000\r\n5.00000,0.00000,0.00000,0.00000\r\n"},
        {"a plain file before a recording", {files.plain1k, files.a2}, "",
         "8.50000,0.00000,0.00000,0.00000\r\n2.00000,0.00000,0.00000,0.00000\r\n3.00000,0.00000,0.00000,0.00000\r\n"},
        {"two clocks", {files.plain10k, files.plain1k},
         files.plain10k + " (10kHz) and " + files.plain1k + " (1kHz) have different clocks", ""},
        {"two recordings under one prefix", {files.u1, files.u2},
         files.u1 + " and " + files.u2 + " belong to two different recordings (" + ID_B + " and " + ID_A + ")", ""},
        {"a file missing", {files.a1, files.a3},
         files.a3 + " (file 3 of recording " + ID_A + ", from sample 4) does not follow " + files.a1 +
             " (file 1 of recording " + ID_A + ", from sample 0, 2 samples): a file of the series is missing or " +
             "repeated", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string refused = "vosctl: ファイルフォーマットエラーです (" + c.reason;
        const std::string err = c.reason.empty() ? "" : refused + "; they do not form one table, nothing was written)\n";
        std::vector<std::string> args{"csv"};
        args.insert(args.end(), c.inputs.begin(), c.inputs.end());
        const Result toStdout = clitest::Run(files.dir, args);
        EXPECT_EQ(toStdout.status, c.reason.empty() ? 0 : 4);
        EXPECT_EQ(toStdout.err, err);
        EXPECT_EQ(toStdout.out, c.csv);
        clitest::WriteText(output, "kept");
        args.insert(args.end(), {"-o", output});
        const Result toFile = clitest::Run(files.dir, args);
        EXPECT_EQ(toFile.status, c.reason.empty() ? 0 : 4);
        EXPECT_EQ(toFile.err, err);
        EXPECT_EQ(clitest::ReadText(output), c.reason.empty() ? c.csv : "kept");

        clitest::WriteText(picture, "kept");
        args[0] = "plot";
        args.back() = picture;
        const Result plot = clitest::Run(files.dir, args);
        EXPECT_EQ(plot.status, c.reason.empty() ? 0 : 4);
        EXPECT_EQ(plot.err, c.reason.empty() ? "" : refused + "; they do not form one record, nothing was written)\n");
        EXPECT_EQ(clitest::ReadText(picture).substr(0, 4), c.reason.empty() ? "\x89PNG" : "kept");
        EXPECT_EQ(clitest::HiddenFiles(files.dir.Path("")), std::vector<std::string>());
    }
}

// A file given twice, or numbered files out of order, are never read as one
// record: info, csv and plot refuse them before anything is written.
TEST(VosctlFiles, AFileTwiceOrNumbersOutOfOrderAreRefused) {
    SeriesFiles files;
    const std::string p1 = files.dir.Path("p-000001.dlf");
    const std::string p2 = files.dir.Path("p-000002.dlf");
    WriteKnownRecord(p1);
    WriteKnownRecord(p2);
    const std::string linked = files.dir.Path("linked.dlf");
    std::filesystem::create_hard_link(files.plain1k, linked);
    const std::string picture = files.dir.Path("out.png");
    const std::string once = "; each file of a record is given once";
    const std::string order = "; give the numbered files of a series in the order of their numbers";
    struct Case {
        const char* name;
        std::vector<std::string> inputs;
        std::string reason;
    };
    const Case cases[] = {
        {"a plain file twice", {files.plain1k, files.plain1k}, files.plain1k + " is named twice" + once},
        {"a recorded file twice", {files.a1, files.a2, files.a2}, files.a2 + " is named twice" + once},
        {"one file under two names", {files.plain1k, linked},
         files.plain1k + " and " + linked + " are one file under two names" + once},
        {"numbered plain files in reverse", {p2, p1}, p2 + " comes before " + p1 + order},
        {"recorded files out of order among others", {files.a2, files.plain10k, files.a1},
         files.a2 + " comes before " + files.a1 + order},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string refused = "vosctl: ファイルフォーマットエラーです (" + c.reason;
        std::vector<std::string> args{"info"};
        args.insert(args.end(), c.inputs.begin(), c.inputs.end());
        const Result info = clitest::Run(files.dir, args);
        EXPECT_EQ(info.status, 4);
        EXPECT_EQ(info.err, refused + "; nothing was described)\n");
        EXPECT_EQ(info.out, "");
        args[0] = "csv";
        const Result csv = clitest::Run(files.dir, args);
        EXPECT_EQ(csv.status, 4);
        EXPECT_EQ(csv.err, refused + "; nothing was written)\n");
        EXPECT_EQ(csv.out, "");
        clitest::WriteText(picture, "kept");
        args[0] = "plot";
        args.insert(args.end(), {"-o", picture});
        const Result plot = clitest::Run(files.dir, args);
        EXPECT_EQ(plot.status, 4);
        EXPECT_EQ(plot.err, refused + "; nothing was written)\n");
        EXPECT_EQ(clitest::ReadText(picture), "kept");
    }
}

TEST(VosctlInfo, ShowsTheRecordingOfEachFileAndFlagsASeriesThatIsMixed) {
    SeriesFiles files;
    const Result text = clitest::Run(files.dir, {"info", files.a2});
    EXPECT_EQ(text.status, 0) << text.err;
    const std::string duration = "  duration        2 mS\n";
    EXPECT_NE(text.out.find(duration + "  recording       " + ID_A + ", file 2, from sample 2\n" +
                            "  start           2026-12-08T04:30:00.252000Z\n" +
                            "  end             2026-12-08T04:30:00.253000Z\n" + "  trigger"),
              std::string::npos)
        << text.out;

    struct Case {
        const char* name;
        std::vector<std::string> inputs;
        std::string err;
    };
    const Case cases[] = {
        {"a series among plain files of another clock", {files.a1, files.plain10k, files.a2, files.a3}, ""},
        {"two recordings under one prefix", {files.u1, files.a1, files.u2},
         "vosctl: ファイルフォーマットエラーです (" + files.u1 + " and " + files.u2 +
             " belong to two different recordings (" + ID_B + " and " + ID_A + "); the files named " +
             files.dir.Path("u") + "-NNNNNN.dlf do not form one record)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"info", "--json"};
        args.insert(args.end(), c.inputs.begin(), c.inputs.end());
        const Result json = clitest::Run(files.dir, args);
        EXPECT_EQ(json.status, c.err.empty() ? 0 : 4);
        EXPECT_EQ(json.err, c.err);
        // Every file is described, in the order given.
        std::istringstream lines(json.out);
        std::size_t objects = 0;
        for (std::string line; std::getline(lines, line); ++objects) {
            const nlohmann::json info = nlohmann::json::parse(line);
            ASSERT_LT(objects, c.inputs.size());
            EXPECT_EQ(info["file"], c.inputs[objects]);
            if (c.inputs[objects] == files.a2) {
                EXPECT_EQ(info["recording"],
                          nlohmann::json::parse(std::string(R"({"identity": ")") + ID_A +
                                                R"(", "index": 2, "first_sample": 2,
                                                   "start": "2026-12-08T04:30:00.252000Z",
                                                   "end": "2026-12-08T04:30:00.253000Z"})"));
            } else if (c.inputs[objects] == files.plain10k) {
                EXPECT_TRUE(info["recording"].is_null());
            }
        }
        EXPECT_EQ(objects, c.inputs.size());
    }
}

// A recording of three files at 10 kHz (330001, 400003 and 259996 samples),
// CHn a sawtooth from n+1 V to n+1.999 V over every 1000 samples of the
// recording, with a spike in each file: CH0 9.5 V at file 1's last sample,
// CH1 10.25 V at file 2's first, CH3 NaN in file 2, CH2 -0.75 V in file 3
// and CH3 8.125 V at its last sample. `whole` holds the same samples in one
// file, as the window would save them.
struct NightSeries {
    TempDir dir;
    std::vector<std::string> files{dir.Path("night-000001.dlf"), dir.Path("night-000002.dlf"),
                                   dir.Path("night-000003.dlf")};
    std::string whole = dir.Path("whole.dlf");

    NightSeries() {
        constexpr std::uint32_t SIZES[] = {330001, 400003, 259996};
        std::vector<double> all[4];
        for (int ch = 0; ch < 4; ++ch) {
            for (std::uint32_t i = 0; i < 990000; ++i) {
                all[ch].push_back(1.0 + ch + (i % 1000) * 0.001);
            }
        }
        all[0][330000] = 9.5;
        all[1][330001] = 10.25;
        all[3][500000] = std::nan("");
        all[2][800000] = -0.75;
        all[3][989999] = 8.125;
        WriteRecord(whole, {}, all);
        std::uint32_t first = 0;
        for (std::size_t f = 0; f < 3; ++f) {
            DataFileHeader header;
            header.stamp = RecordingStamp{1796704200250000 + 100 * static_cast<std::int64_t>(first),
                                          {0xA1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA1}, f + 1, first};
            std::vector<double> part[4];
            for (int ch = 0; ch < 4; ++ch) {
                part[ch].assign(all[ch].begin() + first, all[ch].begin() + first + SIZES[f]);
            }
            WriteRecord(files[f], header, part);
            first += SIZES[f];
        }
    }
};

// The one summary file of the cache folder `cache`, with its inode and
// size: a rebuild writes a new file in its place (a use only marks the
// entry's modification time).
std::string CachedSummaries(const std::string& cache) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(cache + "/vosviewer/summaries")) {
        struct stat info {};
        ::stat(entry.path().c_str(), &info);
        found.push_back(entry.path().string() + " inode " + std::to_string(info.st_ino) + " size " +
                        std::to_string(info.st_size));
    }
    EXPECT_EQ(found.size(), 1u);
    return found.empty() ? "" : found[0];
}

// info and plot of a recording's files read them as one record through the
// summaries, built once (with a progress line on a terminal) and then taken
// from the cache: the totals, time span and extremes of the whole, each
// file's own Summary, and the picture of the same samples in one file.
TEST(VosctlSeries, InfoAndPlotTakeTheWholeRecordFromCachedSummaries) {
    NightSeries night;
    const std::string cache = night.dir.Path("cache");
    std::vector<std::string> args{"info"};
    args.insert(args.end(), night.files.begin(), night.files.end());
    {
        clitest::TerminalRun terminal(night.dir, ONE_LOGGER, args, {"XDG_CACHE_HOME=" + cache});
        EXPECT_EQ(terminal.Finish(), 0);
        EXPECT_NE(terminal.Shown().find("990000/990000 samples"), std::string::npos) << terminal.Shown();
    }
    const std::string text = clitest::ReadText(night.dir.Path(".stdout"));
    EXPECT_NE(text.find(night.files[0] + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  CH0             max 9.50000 V  min 1.00000 V\n"
                        "  CH1             max 2.99900 V  min 2.00000 V\n"
                        "  CH2             max 3.99900 V  min 3.00000 V\n"
                        "  CH3             max 4.99900 V  min 4.00000 V\n" +
                        night.files[1]),
              std::string::npos)
        << text;
    EXPECT_EQ(text.substr(text.find("series of")),
              "series of 3 files, " + night.files[0] + " to " + night.files[2] +
                  "\n"
                  "  clock           10kHz (divider 1)\n"
                  "  samples         990000\n"
                  "  duration        99 S\n"
                  "  recording       a10000000000000000000000000000a1\n"
                  "  start           2026-12-08T04:30:00.250000Z\n"
                  "  end             2026-12-08T04:31:39.249900Z\n"
                  "  CH0             max 9.50000 V  min 1.00000 V\n"
                  "  CH1             max 10.25000 V  min 2.00000 V\n"
                  "  CH2             max 3.99900 V  min -0.75000 V\n"
                  "  CH3             max 8.12500 V  min 4.00000 V\n");
    const std::string built = CachedSummaries(cache);

    const clitest::Environment cached({"XDG_CACHE_HOME=" + cache});
    args.insert(args.begin() + 1, "--json");
    const Result json = clitest::Run(night.dir, args, cached);
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.err, "");
    std::istringstream lines(json.out);
    std::vector<nlohmann::json> objects;
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(nlohmann::json::parse(line));
    }
    EXPECT_EQ(CachedSummaries(cache), built);
    ASSERT_EQ(objects.size(), 4u) << json.out;
    const auto summary = [](const nlohmann::json& info, int ch) {
        return info["summary"][ch]["maximum"].get<std::string>() + " " + info["summary"][ch]["minimum"].get<std::string>();
    };
    EXPECT_EQ(objects[1]["file"], night.files[1]);
    EXPECT_EQ(objects[1]["sample_count"], 400003);
    EXPECT_EQ(summary(objects[1], 0), "1.99900 V 1.00000 V");
    EXPECT_EQ(summary(objects[1], 1), "10.25000 V 2.00000 V");
    EXPECT_EQ(summary(objects[1], 3), "4.99900 V 4.00000 V");
    EXPECT_EQ(summary(objects[2], 2), "3.99900 V -0.75000 V");
    EXPECT_EQ(summary(objects[2], 3), "8.12500 V 4.00000 V");
    EXPECT_EQ(objects[3], nlohmann::json::parse(R"({"series": [")" + night.files[0] + R"(", ")" + night.files[1] +
                                                R"(", ")" + night.files[2] + R"("],
        "clock": "10kHz", "clock_divider": 1, "sample_count": 990000, "duration": "99 S",
        "recording": {"identity": "a10000000000000000000000000000a1",
                      "start": "2026-12-08T04:30:00.250000Z", "end": "2026-12-08T04:31:39.249900Z"},
        "summary": [{"channel": "CH0", "maximum": "9.50000 V", "minimum": "1.00000 V"},
                    {"channel": "CH1", "maximum": "10.25000 V", "minimum": "2.00000 V"},
                    {"channel": "CH2", "maximum": "3.99900 V", "minimum": "-0.75000 V"},
                    {"channel": "CH3", "maximum": "8.12500 V", "minimum": "4.00000 V"}]})"));

    std::vector<std::string> plot{"plot"};
    plot.insert(plot.end(), night.files.begin(), night.files.end());
    plot.insert(plot.end(), {"-o", night.dir.Path("series.png")});
    const Result series = clitest::Run(night.dir, plot, cached);
    EXPECT_EQ(series.status, 0) << series.err;
    EXPECT_EQ(series.err, "");
    EXPECT_EQ(CachedSummaries(cache), built);
    const Result whole = clitest::Run(night.dir, {"plot", night.whole, "-o", night.dir.Path("whole.png")});
    ASSERT_EQ(whole.status, 0) << whole.err;
    const std::string picture = clitest::ReadText(night.dir.Path("whole.png"));
    EXPECT_GT(picture.size(), 1000u);
    EXPECT_TRUE(clitest::ReadText(night.dir.Path("series.png")) == picture);
}

// A name that is not UTF-8 is given losslessly, and the files after it are
// still described.
TEST(VosctlInfo, JsonCarriesANameThatIsNotUtf8) {
    TempDir dir;
    const std::string latin1 = dir.Path("caf\xe9.dlf");
    const std::string good = dir.Path("good.dlf");
    WriteKnownRecord(latin1);
    WriteKnownRecord(good);
    const Result result = clitest::Run(dir, {"info", "--json", latin1, good});
    EXPECT_EQ(result.status, 0) << result.err;
    std::istringstream lines(result.out);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line)) << result.out << result.err;
    const nlohmann::json first = nlohmann::json::parse(line);
    EXPECT_EQ(first["file"], dir.Path("caf\xef\xbf\xbd.dlf"));
    const std::string bytes = first["file_bytes"];
    ASSERT_GE(bytes.size(), 16u);
    EXPECT_EQ(bytes.substr(bytes.size() - 16), "636166e92e646c66");
    std::string decoded;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        decoded += static_cast<char>(std::stoi(bytes.substr(i, 2), nullptr, 16));
    }
    EXPECT_EQ(decoded, latin1);
    ASSERT_TRUE(std::getline(lines, line));
    const nlohmann::json second = nlohmann::json::parse(line);
    EXPECT_EQ(second["file"], good);
    EXPECT_FALSE(second.contains("file_bytes"));

    // A series: its whole-record object names the files the same way.
    const std::string parts[] = {dir.Path("caf\xe9-000001.dlf"), dir.Path("caf\xe9-000002.dlf")};
    WriteKnownRecord(parts[0]);
    WriteKnownRecord(parts[1]);
    const Result series = clitest::Run(dir, {"info", "--json", parts[0], parts[1]});
    EXPECT_EQ(series.status, 0) << series.err;
    const nlohmann::json whole = nlohmann::json::parse(series.out.substr(series.out.rfind('\n', series.out.size() - 2) + 1));
    EXPECT_EQ(whole["series"][1], dir.Path("caf\xef\xbf\xbd-000002.dlf"));
    const std::string partBytes = whole["series_bytes"][1];
    ASSERT_GE(partBytes.size(), 30u);
    EXPECT_EQ(partBytes.substr(partBytes.size() - 30), "636166e92d3030303030322e646c66");

    const Result help = clitest::Run(dir, {"info", "--help"});
    EXPECT_NE(help.out.find("\"file_bytes\""), std::string::npos) << help.out;
}

// An output that is one of the inputs, or takes a data file's name, is
// refused before anything is written: the data file stays byte for byte.
TEST(VosctlOutputs, NeverWriteOverAnInputOrADataFile) {
    TempDir dir;
    const std::string run1 = dir.Path("run-000001.dlf");
    const std::string run2 = dir.Path("run-000002.dlf");
    WriteKnownRecord(run1);
    WriteKnownRecord(run2);
    const std::string original = clitest::ReadText(run1);
    std::filesystem::create_hard_link(run1, dir.Path("linked.csv"));
    std::filesystem::create_symlink(run1, dir.Path("pointer.png"));
    const std::string option = "vosctl: パラメータが無効です (";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {"csv with a glob after -o", {"csv", "-o", run1, run2},
         option + "--output: \"" + run1 + "\" ends in .dlf; CSV is never written over a data file's name; see "},
        {"plot over its data file", {"plot", run1, "-o", run1},
         option + "--output: \"" + run1 + "\" ends in .dlf; a picture is never written over a data file's name; see "},
        {"csv to a new name in capitals", {"csv", run1, "-o", dir.Path("NEW.DLF")},
         option + "--output: \"" + dir.Path("NEW.DLF") + "\" ends in .dlf; CSV is never written"},
        {"csv to a working file's name a recording has yet to begin", {"csv", run1, "-o", dir.Path("run-000009.vrec")},
         option + "--output: \"" + dir.Path("run-000009.vrec") + "\" ends in .vrec; CSV is never written over a "
                  "working file's name; see "},
        {"record streaming CSV onto a data file", {"--driver", NO_DRIVER, "record", "--samples", "10", "--csv", run1},
         option + "--csv: \"" + run1 + "\" ends in .dlf; CSV is never written over a data file's name; see "},
        {"csv to a hard link of an input", {"csv", run2, run1, "-o", dir.Path("linked.csv")},
         option + dir.Path("linked.csv") + " is the input " + run1 + "; nothing was written, choose another output)\n"},
        {"plot to a link to its data file", {"plot", run1, "-o", dir.Path("pointer.png")},
         option + dir.Path("pointer.png") + " is the input " + run1 + "; nothing was written, choose another output)\n"},
        {"plot of a series to a link to one of its files", {"plot", run2, run1, "-o", dir.Path("pointer.png")},
         option + dir.Path("pointer.png") + " is the input " + run1 + "; nothing was written, choose another output)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result result = clitest::Run(dir, c.args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err.rfind(c.err, 0), 0u) << result.err;
        EXPECT_EQ(clitest::ReadText(run1), original);
        EXPECT_FALSE(Exists(dir.Path("NEW.DLF")));
    }
    // Standard output appended to an input.
    for (const char* command : {"csv", "plot"}) {
        SCOPED_TRACE(command);
        const int outFd = ::open(run1.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        const int errFd = ::open(dir.Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        std::vector<std::string> args{command, run1};
        if (std::string(command) == "plot") {
            args.insert(args.end(), {"-o", "-"});
        }
        const pid_t pid = clitest::Spawn(args, {}, outFd, errFd);
        ::close(outFd);
        ::close(errFd);
        EXPECT_EQ(clitest::WaitExit(pid), 2);
        EXPECT_EQ(clitest::ReadText(dir.Path("err")),
                  option + "standard output is the input " + run1 + "; nothing was written, choose another output)\n");
        EXPECT_EQ(clitest::ReadText(run1), original);
    }
    // Standard output redirected with > onto the input: the shell emptied it before vosctl ran, and the message says so.
    const std::string victim = dir.Path("victim.dlf");
    std::filesystem::copy_file(run1, victim);
    {
        const int outFd = ::open(victim.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        const int errFd = ::open(dir.Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const pid_t pid = clitest::Spawn({"csv", victim}, {}, outFd, errFd);
        ::close(outFd);
        ::close(errFd);
        EXPECT_EQ(clitest::WaitExit(pid), 2);
        EXPECT_EQ(clitest::ReadText(dir.Path("err")),
                  option + "standard output is the input " + victim +
                      ", which is empty: a > redirection empties its file before vosctl starts, so what it held was "
                      "already gone; write with -o FILE instead; nothing was written, choose another output)\n");
    }
    // Standard output appended to a data file that is no input, known by its
    // name (in any case, empty as `>` leaves it) or by its content.
    const std::string renamed = dir.Path("data.bin");
    std::filesystem::copy_file(run1, renamed);
    const std::string fresh = dir.Path("fresh.DLF");
    clitest::WriteText(fresh, "");
    const std::vector<std::string> commands[] = {
        {"csv", run1},
        {"plot", run1, "-o", "-"},
        {"info", run1},
        {"--driver", NO_DRIVER, "acquire", "-o", "-"},
        {"--driver", NO_DRIVER, "record", "--samples", "10", "--csv", "-"},
        {"--driver", NO_DRIVER, "list"},
        {"--driver", NO_DRIVER, "doctor"},
        {"--help"},
        {"--version"},
        {"info", "--help"},
    };
    for (const std::string& target : {run2, renamed, fresh}) {
        const std::string before = clitest::ReadText(target);
        for (const std::vector<std::string>& args : commands) {
            SCOPED_TRACE(target + " " + args[0] + " " + args.back());
            const int outFd = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            const int errFd = ::open(dir.Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            const pid_t pid = clitest::Spawn(args, {}, outFd, errFd);
            ::close(outFd);
            ::close(errFd);
            EXPECT_EQ(clitest::WaitExitWithin(pid, 30), 2);
            EXPECT_EQ(clitest::ReadText(dir.Path("err")),
                      option + "standard output is the data file " + std::filesystem::canonical(target).string() +
                          "; nothing was written, choose another output)\n");
            EXPECT_EQ(clitest::ReadText(target), before);
        }
    }
}

// What a command prints must reach standard output: a full disk, or a
// descriptor closed before the start, ends it with status 4 naming the cause
// (a failure the command had already met keeps its status).
TEST(VosctlOutputs, LostStandardOutputIsReported) {
    TempDir dir;
    const std::string file = dir.Path("known.dlf");
    WriteKnownRecord(file);
    const std::string printed = "; what the command printed did not all reach it";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string named;   // what the message calls the output
        std::string after;   // what follows the cause
    };
    const Case cases[] = {
        {{"info", file}, 4, "standard output", printed},
        {{"--driver", clitest::SIM_LIBRARY, "list"}, 4, "standard output", printed},
        {{"--driver", NO_DRIVER, "doctor"}, 1, "standard output", printed},
        {{"--version"}, 4, "standard output", printed},
        {{"--help"}, 4, "standard output", printed},
        {{"csv", "--help"}, 4, "standard output", printed},
        {{"csv", file}, 4, "-", ""},
        {{"plot", file, "-o", "-"}, 4, "-", ""},
    };
    const std::pair<const char*, std::string> outputs[] = {
        {"/dev/full", "no space left on the device"},
        {nullptr, "it is closed"},
    };
    for (const auto& [device, cause] : outputs) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(device == nullptr ? "closed" : device) + " " + c.args[0] + " " +
                         (c.args.size() > 1 ? c.args[1] : ""));
            const int outFd = device == nullptr ? -1 : ::open(device, O_WRONLY | O_CLOEXEC);
            const int errFd = ::open(dir.Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            const pid_t pid = clitest::Spawn(c.args, {}, outFd, errFd);
            if (outFd >= 0) ::close(outFd);
            ::close(errFd);
            EXPECT_EQ(clitest::WaitExitWithin(pid, 30), c.status);
            const std::string err = clitest::ReadText(dir.Path("err"));
            const std::string expected = "vosctl: ファイル書き込みエラーです (" + c.named +
                                         ": cannot write the file: " + cause + c.after + ")\n";
            ASSERT_GE(err.size(), expected.size()) << err;
            EXPECT_EQ(err.substr(err.size() - expected.size()), expected) << err;
        }
    }
}

// A reader that goes away on purpose (`| head`) ends any command quietly,
// with the status SIGPIPE would give, and leaves nothing behind: not even
// the record acquire made for that pipe.
TEST(VosctlOutputs, AReaderThatLeavesEndsTheCommandQuietly) {
    TempDir dir;
    const std::string file = dir.Path("known.dlf");
    WriteKnownRecord(file);
    const std::string big = dir.Path("big.dlf");
    std::vector<double> values(100000, 1.25);
    WriteRecord(big, {}, {values, values, values, values});
    // Sixty loggers: list --details prints more than stdio's usual 4 KiB buffer at once.
    std::string loggers = ONE_LOGGER;
    for (int serial = 30002; serial <= 30060; ++serial) loggers += "device serial=" + std::to_string(serial) + "\n";
    const std::string config = dir.Path("sim.conf");
    clitest::WriteText(config, loggers);
    std::filesystem::create_directory(dir.Path("tmp"));
    const std::vector<std::string> cases[] = {
        {"info", file},
        {"info", file, dir.Path("missing.dlf")},  // ends at once: the missing file is never looked at
        {"csv", big},
        {"plot", file, "-o", "-"},
        {"--driver", clitest::SIM_LIBRARY, "acquire", "--count", "100000", "-o", "-"},
        {"--driver", clitest::SIM_LIBRARY, "list", "--details"},
        {"--help"},
    };
    // Data files and hidden files, here and in the temporary folder.
    const auto names = [&dir] {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path(""))) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() == ".dlf" || name.front() == '.') found.insert(entry.path().string());
        }
        return found;
    };
    const std::set<std::string> before = names();
    for (const std::vector<std::string>& args : cases) {
        SCOPED_TRACE(args.back());
        int pipeFds[2];
        ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
        ::close(pipeFds[0]);
        const int errFd = ::open(dir.Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        // Run in the folder, where acquire would keep a recovery file.
        std::vector<std::string> shell{"-c", "cd \"$0\" && exec \"$@\"", dir.Path(""), clitest::VOSCTL};
        shell.insert(shell.end(), args.begin(), args.end());
        const pid_t pid = clitest::Spawn(shell, clitest::Environment({"VOS_SIM_CONFIG=" + config, "TMPDIR=" + dir.Path("tmp")}),
                                         pipeFds[1], errFd, "/bin/sh");
        ::close(pipeFds[1]);
        ::close(errFd);
        EXPECT_EQ(clitest::WaitExitWithin(pid, 30), 141);
        EXPECT_EQ(clitest::ReadText(dir.Path("err")), "");
        std::filesystem::remove(dir.Path("err"));
        EXPECT_EQ(names(), before);
    }
}

// Open keeps the window's text; the English gloss names the cause.
TEST(VosctlFiles, OpenFailuresNameTheirCause) {
    TempDir dir;
    const std::string good = dir.Path("good.dlf");
    WriteKnownRecord(good);
    std::filesystem::create_directory(dir.Path("folder.dlf"));
    const std::string locked = dir.Path("locked.csv");
    clitest::WriteText(locked, "kept");
    const int lockFd = ::open(locked.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
    const std::string longName = dir.Path(std::string(300, 'n') + ".csv");
    struct Case {
        std::vector<std::string> args;
        std::string path;
        std::string cause;
    };
    const Case cases[] = {
        {{"info", dir.Path("missing.dlf")}, dir.Path("missing.dlf"), "no such file"},
        {{"info", dir.Path("gone/x.dlf")}, dir.Path("gone/x.dlf"), "the folder " + dir.Path("gone") + " does not exist"},
        {{"info", dir.Path("folder.dlf")}, dir.Path("folder.dlf"), "it is a folder"},
        {{"csv", good, "-o", dir.Path("gone/x.csv")}, dir.Path("gone/x.csv"),
         "the folder " + dir.Path("gone") + " does not exist"},
        {{"csv", good, "-o", longName}, longName, "the name is too long"},
        {{"csv", good, "-o", locked}, locked, "another program uses it"},
        {{"plot", good, "-o", dir.Path("gone/x.png")}, dir.Path("gone/x.png"),
         "the folder " + dir.Path("gone") + " does not exist"},
        {{"plot", dir.Path("missing.dlf"), "-o", dir.Path("x.png")}, dir.Path("missing.dlf"), "no such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.path);
        const Result result = clitest::Run(dir, c.args);
        EXPECT_EQ(result.status, 4);
        EXPECT_EQ(result.err, "vosctl: ファイルオープンエラーです (" + c.path + ": cannot open the file: " + c.cause + ")\n");
    }
    ::close(lockFd);
    EXPECT_EQ(clitest::ReadText(locked), "kept");

    // The folder a command runs in, removed; a read-only file system.
    std::filesystem::create_directory(dir.Path("here"));
    const struct {
        std::string script;
        std::string cause;
    } shells[] = {
        {"cd \"$1\" && rmdir \"$1\" && exec \"$0\" csv \"$2\" -o out.csv",
         "out.csv: cannot open the file: the current folder was removed"},
        {"mount -t tmpfs -o ro none \"$1\" 2>/dev/null || exit 99; exec \"$0\" csv \"$2\" -o \"$1/x.csv\"",
         dir.Path("here/x.csv") + ": cannot open the file: the file system is read-only"},
    };
    for (const auto& shell : shells) {
        SCOPED_TRACE(shell.cause);
        std::filesystem::create_directories(dir.Path("here"));
        const std::string errPath = dir.Path("err");
        const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const bool ownMounts = shell.script.rfind("mount", 0) == 0;
        std::vector<std::string> args{"-c", shell.script, clitest::VOSCTL, dir.Path("here"), good};
        if (ownMounts) {
            args.insert(args.begin(), {"-m", "/bin/sh"});
        }
        const pid_t pid = clitest::Spawn(args, {}, errFd, errFd, ownMounts ? "/usr/bin/unshare" : "/bin/sh");
        ::close(errFd);
        const int status = clitest::WaitExit(pid);
        if (ownMounts && status == 99) {
            std::cout << "no private mount here, read-only case skipped: " << clitest::ReadText(errPath) << "\n";
            continue;
        }
        EXPECT_EQ(status, 4);
        EXPECT_EQ(clitest::ReadText(errPath), "vosctl: ファイルオープンエラーです (" + shell.cause + ")\n");
    }
}


// A recording whose folder is removed ends as the README says: Open's
// message, the gloss naming the removed folder.
TEST(VosctlFiles, RecordingIntoARemovedFolderNamesIt) {
    TempDir dir;
    const std::string folder = dir.Path("sub");
    std::filesystem::create_directory(folder);
    const int outFd = ::open(dir.Path("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int errFd = ::open(dir.Path("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    // Long enough not to end before the folder goes, however late this process runs.
    const pid_t pid = clitest::Spawn({"--driver", clitest::SIM_LIBRARY, "record", "--samples", "4000000", "--split",
                                      "2000", "-o", folder + "/run"},
                                     {}, outFd, errFd);
    ::close(outFd);
    ::close(errFd);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!Exists(folder + "/run-000001.dlf") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The recorder may create a file between remove_all's listing and its rmdir: try again until the folder is gone.
    std::error_code error;
    const auto removeBy = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::filesystem::remove_all(folder, error) == static_cast<std::uintmax_t>(-1) &&
           std::chrono::steady_clock::now() < removeBy) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(Exists(folder)) << error.message();
    EXPECT_EQ(clitest::WaitExitWithin(pid, 60), 4);
    const std::string err = clitest::ReadText(dir.Path("err"));
    // Creating the next file gives the open message, a conversion cut off part-way the write message;
    // either way the gloss names the missing folder.
    const bool opening = err.find("vosctl: ファイルオープンエラーです (" + folder + "/run-") != std::string::npos;
    EXPECT_TRUE(opening || err.find("vosctl: ファイル書き込みエラーです (" + folder + "/run-") != std::string::npos) << err;
    EXPECT_NE(err.find(std::string(opening ? ": cannot open the file" : ": cannot write the file") + ": the folder " +
                       folder + " does not exist"),
              std::string::npos)
        << err;
}

}  // namespace
