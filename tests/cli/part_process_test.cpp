// vosctl csv, info and plot of a part of a record (--from, --to), and csv
// reduced to one row per interval (--every).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "record/extreme_record.h"

namespace {

using clitest::Result;

constexpr std::uint32_t SIZES[] = {50001, 60003, 39996};
constexpr std::uint32_t TOTAL = 150000;

// CHn as a sawtooth from n+1 V to n+1.999 V over every 1000 samples.
double Sawtooth(int ch, std::uint32_t i) { return 1.0 + ch + (i % 1000) * 0.001; }

// 2026-12-08T04:30:00.250000Z, when the recording began.
constexpr std::int64_t START = 1796704200250000;

// A recording of three files at 10 kHz, started at START, of the sawtooth
// with 9.5 V on CH0 at sample 50000 (file 2's first) and a NaN on CH3 at
// sample 3500; `unstamped` holds the same samples in one file as the window
// saves them. `lost`: the samples the recorder lost before files 2 and 3.
struct Recording {
    TempDir dir;
    std::vector<std::string> files{dir.Path("part-000001.dlf"), dir.Path("part-000002.dlf"),
                                   dir.Path("part-000003.dlf")};
    std::string unstamped = dir.Path("saved.dlf");
    std::vector<double> all[4];

    std::uint32_t lost[2] = {0, 0};

    explicit Recording(std::uint32_t lostBefore2 = 0, std::uint32_t lostBefore3 = 0) : lost{lostBefore2, lostBefore3} {
        for (int ch = 0; ch < 4; ++ch) {
            for (std::uint32_t i = 0; i < TOTAL; ++i) {
                all[ch].push_back(Sawtooth(ch, i));
            }
        }
        all[0][50000] = 9.5;
        all[3][3500] = std::nan("");
        clitest::WriteRecord(unstamped, {}, all);
        std::uint32_t first = 0;
        std::uint32_t skipped = 0;
        for (std::size_t f = 0; f < 3; ++f) {
            skipped += f == 0 ? 0 : lost[f - 1];
            DataFileHeader header;
            header.stamp = RecordingStamp{START + 100 * static_cast<std::int64_t>(first + skipped),
                                          {0xC3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC3}, f + 1,
                                          first + skipped};
            std::vector<double> part[4];
            for (int ch = 0; ch < 4; ++ch) {
                part[ch].assign(all[ch].begin() + first, all[ch].begin() + first + SIZES[f]);
            }
            clitest::WriteRecord(files[f], header, part);
            first += SIZES[f];
        }
    }

    // The file holding sample `i`, and the microseconds from the start it was taken at.
    std::size_t FileOf(std::uint64_t i) const { return i < SIZES[0] ? 0 : i < SIZES[0] + SIZES[1] ? 1 : 2; }
    std::int64_t Micros(std::uint64_t i) const {
        const std::size_t f = FileOf(i);
        return 100 * static_cast<std::int64_t>(i + (f > 0 ? lost[0] : 0) + (f > 1 ? lost[1] : 0));
    }

    std::vector<std::string> Args(std::vector<std::string> head, const std::vector<std::string>& tail) const {
        head.insert(head.end(), files.begin(), files.end());
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    }
};

// Rows first .. last-1 of a CSV text.
std::string Rows(const std::string& csv, std::uint64_t first, std::uint64_t last) {
    std::size_t begin = 0;
    for (std::uint64_t row = 0; row < first; ++row) {
        begin = csv.find('\n', begin) + 1;
    }
    std::size_t end = begin;
    for (std::uint64_t row = first; row < last; ++row) {
        end = csv.find('\n', end) + 1;
    }
    return csv.substr(begin, end - begin);
}

TEST(VosctlPart, CsvOfAPartIsTheSameRowsOfTheWholeCsv) {
    const Recording recording;
    const Result whole = clitest::Run(recording.dir, recording.Args({"csv"}, {}));
    ASSERT_EQ(whole.status, 0) << whole.err;
    struct Case {
        std::vector<std::string> range;
        std::uint64_t first, last;
    };
    const Case cases[] = {
        {{"--from", "49990", "--to", "50021"}, 49990, 50021},                  // across file 1 and 2
        {{"--from", "4.999s", "--to", "5.0021s"}, 49990, 50021},               // times from the start
        {{"--from", "2026-12-08T04:30:05.249Z", "--to", "2026-12-08T04:30:05.2521Z"}, 49990, 50021},  // UTC
        {{"--from", "0.00005s", "--to", "15s"}, 1, TOTAL},  // rounded up; to the end
        {{"--from", "0.0001h"}, 3600, TOTAL},
        {{"--to", "3"}, 0, 3},
        {{"--from", "110003", "--to", "110004"}, 110003, 110004},              // file 3's first row
        {{"--from", "2026-12-08T04:30:00.25Z", "--to", "2026-12-08T04:30:15.25Z"}, 0, TOTAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range[0] + " " + c.range[1]);
        const Result part = clitest::Run(recording.dir, recording.Args({"csv"}, c.range));
        EXPECT_EQ(part.status, 0) << part.err;
        EXPECT_EQ(part.err, "");
        EXPECT_TRUE(part.out == Rows(whole.out, c.first, c.last)) << part.out.substr(0, 200);
    }
    // Written to a file, one channel, each file read once while writing.
    const std::string out = recording.dir.Path("part.csv");
    const Result file = clitest::Run(recording.dir, recording.Args({"csv"}, {"--from", "49999", "--to", "110010",
                                                                             "--channel", "CH0", "-o", out}));
    EXPECT_EQ(file.status, 0) << file.err;
    const std::string text = clitest::ReadText(out);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 110010 - 49999);
    EXPECT_EQ(text.substr(0, 27), "1.99900\r\n9.50000\r\n1.00100\r\n");
}

// A part longer than a file holds is read a file's worth at a time.
TEST(VosctlPart, APartLongerThanAFileIsTheSameRowsToo) {
    TempDir dir;
    std::vector<std::string> files;
    for (std::uint32_t f = 0; f < 2; ++f) {
        std::vector<double> channels[4];
        for (int ch = 0; ch < 4; ++ch) {
            for (std::uint32_t i = 0; i < 600001 + f; ++i) {
                channels[ch].push_back(Sawtooth(ch, i * 7 + f));
            }
        }
        files.push_back(dir.Path("long-00000" + std::to_string(f + 1) + ".dlf"));
        clitest::WriteRecord(files.back(), {}, channels);
    }
    const Result whole = clitest::Run(dir, {"csv", files[0], files[1], "--channel", "CH2"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    const std::string out = dir.Path("long.csv");
    const Result part =
        clitest::Run(dir, {"csv", files[0], files[1], "--channel", "CH2", "--from", "1", "--to", "1200002", "-o", out});
    EXPECT_EQ(part.status, 0) << part.err;
    EXPECT_TRUE(clitest::ReadText(out) == Rows(whole.out, 1, 1200002));
}

TEST(VosctlPart, PartsOutsideTheRecordAreRefusedWithItsBounds) {
    const Recording recording;
    const std::string bounds =
        "(the record holds samples 0 to 149999, from 0s to 14.9999s after its start, UTC "
        "2026-12-08T04:30:00.250000Z to 2026-12-08T04:30:15.249900Z)\n";
    struct Case {
        std::vector<std::string> range;
        std::string message;
    };
    const Case cases[] = {
        {{"--from", "500", "--to", "500"}, "vosctl: --from 500 --to 500 selects no samples (from sample 500 to before sample 500) "},
        {{"--from", "2s", "--to", "1s"}, "vosctl: --from 2s --to 1s selects no samples (from sample 20000 to before sample 10000) "},
        {{"--from", "150000"}, "vosctl: --from 150000 --to the end selects no samples (from sample 150000 to before sample 150000) "},
        {{"--to", "150001"}, "vosctl: --to 150001 lies outside the record "},
        {{"--from", "15.00001s"}, "vosctl: --from 15.00001s lies outside the record "},
        {{"--from", "2026-12-08T04:30:00.249999Z"}, "vosctl: --from 2026-12-08T04:30:00.249999Z lies outside the record "},
        {{"--to", "2026-12-08T04:30:15.250001Z"}, "vosctl: --to 2026-12-08T04:30:15.250001Z lies outside the record "},
    };
    for (const char* command : {"csv", "info", "plot"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(command) + " " + c.range[0] + " " + c.range[1]);
            std::vector<std::string> tail = c.range;
            const std::string out = recording.dir.Path("refused.out");
            if (std::string(command) != "info") {
                tail.insert(tail.end(), {"-o", out});
            }
            const Result r = clitest::Run(recording.dir, recording.Args({command}, tail));
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.err, c.message + bounds);
            EXPECT_EQ(r.out, "");
            EXPECT_FALSE(clitest::Exists(out));
        }
    }
    // A UTC time needs a stamp to place it; malformed ends are usage errors.
    const Result unstamped =
        clitest::Run(recording.dir, {"csv", recording.unstamped, "--from", "2026-12-08T04:30:01Z"});
    EXPECT_EQ(unstamped.status, 2);
    EXPECT_EQ(unstamped.err,
              "vosctl: --from 2026-12-08T04:30:01Z is a UTC time (the record has no recording stamp to place it; "
              "give a sample index or a time from its start)\n");
    // A file cut short is named before any row.
    std::filesystem::resize_file(recording.files[1], DLF_HEADER_SIZE + 100);
    const Result cut = clitest::Run(recording.dir, recording.Args({"csv"}, {"--from", "49990", "--to", "50010"}));
    EXPECT_EQ(cut.status, 4);
    EXPECT_NE(cut.err.find(recording.files[1]), std::string::npos) << cut.err;
    EXPECT_EQ(cut.out, "");
    for (const char* bad : {"1h30", "-5", "2026-02-30T00:00:00Z", "5s4m", "1.s", "0x10", "5ms1s", "3m5", "2sms",
                            "2026-12-08T04:30:00+24:00", "2026-12-08T04:30:00+0900", "2026-12-08T04:30:00"}) {
        const Result r = clitest::Run(recording.dir, {"csv", recording.unstamped, "--from", bad});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("is not a sample index (12345), a time from the record's start"), std::string::npos)
            << r.err;
    }
}

// Worked out from the samples in exact fractions.
TEST(VosctlPart, InfoOfAPartGivesEachChannelsStatistics) {
    const Recording recording;
    const Result json = clitest::Run(recording.dir, recording.Args({"info", "--json"}, {"--from", "0.2s", "--to", "4000"}));
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json info = nlohmann::json::parse(json.out);
    EXPECT_EQ(info["from"], 2000);
    EXPECT_EQ(info["to"], 4000);
    EXPECT_EQ(info["sample_count"], 2000);
    EXPECT_EQ(info["start"], "2026-12-08T04:30:00.450000Z");
    EXPECT_EQ(info["end"], "2026-12-08T04:30:00.649900Z");
    struct Expected {
        std::uint64_t nans;
        double minimum;
        std::uint64_t minimumAt;
        double maximum;
        std::uint64_t maximumAt;
        double mean, rms, deviation, peakToPeak;
    };
    const auto check = [](const nlohmann::json& s, const Expected& e) {
        EXPECT_EQ(s["nan_count"], e.nans);
        EXPECT_EQ(s["minimum"].get<double>(), e.minimum);
        EXPECT_EQ(s["minimum_at"], e.minimumAt);
        EXPECT_EQ(s["maximum"].get<double>(), e.maximum);
        EXPECT_EQ(s["maximum_at"], e.maximumAt);
        EXPECT_NEAR(s["mean"].get<double>(), e.mean, 1e-12 * e.mean);
        EXPECT_NEAR(s["rms"].get<double>(), e.rms, 1e-12 * e.rms);
        EXPECT_NEAR(s["standard_deviation"].get<double>(), e.deviation, 1e-12 * e.deviation);
        EXPECT_EQ(s["peak_to_peak"].get<double>(), e.peakToPeak);
    };
    ASSERT_EQ(info["statistics"].size(), 4u);
    check(info["statistics"][0], {0, 1.0, 2000, 1.999, 2999, 1.4995, 1.5270342170364095, 0.2886749902572095,
                                  0.9990000000000001});
    check(info["statistics"][2], {0, 3.0, 2000, 3.999, 2999, 3.4995, 3.511386264710848, 0.2886749902572095,
                                  0.9990000000000001});
    check(info["statistics"][3], {1, 4.0, 2000, 4.999, 2999, 4.499499749874937, 4.508755142660581,
                                  0.2887471858626665, 0.9989999999999997});
    // Most of the record, across both file boundaries: from the summaries.
    const Result wide = clitest::Run(recording.dir, recording.Args({"info", "--json"}, {"--from", "1000", "--to", "149000"}));
    ASSERT_EQ(wide.status, 0) << wide.err;
    const nlohmann::json most = nlohmann::json::parse(wide.out);
    check(most["statistics"][0], {0, 1.0, 1000, 9.5, 50000, 1.4995574324324323, 1.5272316590945005,
                                  0.2894201917233685, 8.5});
    check(most["statistics"][3], {1, 4.0, 1000, 4.999, 1999, 4.499499996621599, 4.508750828407175,
                                  0.28867596551257135, 0.9989999999999997});
    // The same part in text.
    const Result text = clitest::Run(recording.dir, {"info", recording.unstamped, "--from", "2000", "--to", "4000"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, recording.unstamped +
                            ": samples 2000 to 4000 (2000 samples)\n"
                            "  from            0.200000 s\n"
                            "  to              0.400000 s\n"
                            "  CH0  min 1 V at 2000  max 1.999 V at 2999  mean 1.4995 V  rms 1.52703422 V  "
                            "std 0.28867499 V  p-p 0.999 V  NaN 0\n"
                            "  CH1  min 2 V at 2000  max 2.999 V at 2999  mean 2.4995 V  rms 2.51611476 V  "
                            "std 0.28867499 V  p-p 0.999 V  NaN 0\n"
                            "  CH2  min 3 V at 2000  max 3.999 V at 2999  mean 3.4995 V  rms 3.51138626 V  "
                            "std 0.28867499 V  p-p 0.999 V  NaN 0\n"
                            "  CH3  min 4 V at 2000  max 4.999 V at 2999  mean 4.49949975 V  rms 4.50875514 V  "
                            "std 0.288747186 V  p-p 0.999 V  NaN 1\n");
}

// A bit flipped in the second file's stamp (byte 45: 2^40 us, 12.7 days
// later): info describes the series and names the file whose stamp its
// samples contradict, with status 4.
TEST(VosctlPart, InfoNamesADamagedStamp) {
    const Recording recording;
    std::fstream file(recording.files[1], std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(45);
    const char byte = static_cast<char>(file.get());
    file.seekp(45);
    file.put(static_cast<char>(byte ^ 1));
    file.close();
    const Result info = clitest::Run(recording.dir, recording.Args({"info"}, {}));
    EXPECT_EQ(info.status, 4) << info.err;
    EXPECT_NE(info.out.find(recording.files[2]), std::string::npos) << info.out;
    EXPECT_NE(info.err.find(recording.files[1] + ": a damaged stamp: it dates the file 1099511.627776 s later than its "
                                                 "samples and gaps place it in the series"),
              std::string::npos)
        << info.err;
}

// Infinities and huge numbers: numpy's statistics in JSON and text, null
// and "-" only for a channel of NaN only.
TEST(VosctlPart, InfoOfInfinitiesAndHugeNumbersGivesNumpysStatistics) {
    TempDir dir;
    std::vector<double> channels[4];
    for (int ch = 0; ch < 4; ++ch) {
        for (std::uint32_t i = 0; i < EXTREME_COUNT; ++i) {
            channels[ch].push_back(ExtremeSample(ch, i));
        }
    }
    const std::string path = dir.Path("extreme.dlf");
    clitest::WriteRecord(path, {}, channels);
    const Result json = clitest::Run(dir, {"info", "--json", path, "--from", "0", "--to", "10000"});
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json all = nlohmann::json::parse(json.out)["statistics"];
    ASSERT_EQ(all.size(), 4u);
    const auto fields = [](const nlohmann::json& s) {
        nlohmann::json f = s;
        f.erase("channel");
        return f.dump();
    };
    EXPECT_EQ(fields(all[0]), R"({"count":10000,"maximum":"inf","maximum_at":4321,"mean":"inf","minimum":0.0,)"
                              R"("minimum_at":0,"nan_count":0,"peak_to_peak":"inf","rms":"inf","standard_deviation":"nan"})");
    EXPECT_EQ(fields(all[2]), R"({"count":10000,"maximum":1e+305,"maximum_at":0,"mean":1e+305,"minimum":1e+305,)"
                              R"("minimum_at":0,"nan_count":0,"peak_to_peak":0.0,"rms":1e+305,"standard_deviation":0.0})");
    EXPECT_EQ(fields(all[3]), R"({"count":10000,"maximum":"inf","maximum_at":7000,"mean":"nan","minimum":"-inf",)"
                              R"("minimum_at":5000,"nan_count":5000,"peak_to_peak":"inf","rms":"inf",)"
                              R"("standard_deviation":"nan"})");
    EXPECT_EQ(all[1]["mean"], 0.0);
    EXPECT_EQ(all[1]["peak_to_peak"], 2e300);
    EXPECT_NEAR(all[1]["rms"].get<double>(), 1e300, 1e286);
    EXPECT_NEAR(all[1]["standard_deviation"].get<double>(), 1e300, 1e286);
    const Result text = clitest::Run(dir, {"info", path, "--from", "0", "--to", "5000"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, path +
                            ": samples 0 to 5000 (5000 samples)\n"
                            "  from            0.000000 s\n"
                            "  to              0.500000 s\n"
                            "  CH0  min 0 V at 0  max inf V at 4321  mean inf V  rms inf V  std nan V  p-p inf V  NaN 0\n"
                            "  CH1  min -1e+300 V at 1  max 1e+300 V at 0  mean 0 V  rms 1e+300 V  std 1e+300 V  "
                            "p-p 2e+300 V  NaN 0\n"
                            "  CH2  min 1e+305 V at 0  max 1e+305 V at 0  mean 1e+305 V  rms 1e+305 V  std 0 V  "
                            "p-p 0 V  NaN 0\n"
                            "  CH3  min - at -  max - at -  mean -  rms -  std -  p-p -  NaN 5000\n");
}

// One row per interval: its start, each channel's reductions over its
// samples, NaN left out, and "gap" where a gap cut it, as a direct
// computation gives them: a time's intervals on its multiples in UTC, a
// count's from the part's start, neither across a gap.
TEST(VosctlPart, EveryIntervalGivesTheReductionsOfItsSamples) {
    const Recording whole;
    // Gaps of 2.194 s and 1.707 s: file 2 starts 7.1941 s, file 3 14.9014 s after the start.
    const Recording gapped(21940, 17070);
    constexpr const char* NAMES[] = {"min", "max", "mean", "rms", "sd", "count", "nan"};
    struct Case {
        const Recording& recording;
        std::vector<std::string> args;
        std::uint64_t first, last;
        std::int64_t micros;    // the interval's time, or 0
        std::uint64_t samples;  // the interval's samples, without a time
        std::vector<int> channels;
        std::vector<int> reductions;
        bool header, utc;
    };
    const Case cases[] = {
        {whole, {"--every", "0.1s"}, 0, TOTAL, 100000, 0, {0, 1, 2, 3}, {2}, false, false},
        {whole, {"--every", "77.7ms", "--reduce", "min,max,mean", "--header", "--from", "3000", "--to", "7.5s"},
         3000, 75000, 77700, 0, {0, 1, 2, 3}, {0, 1, 2}, true, false},
        {whole, {"--every", "1m", "--channel", "CH3", "--from", "3400"}, 3400, TOTAL, 60000000, 0, {3}, {2}, false, false},
        {whole, {"--every", "100us", "--channel", "CH3", "--from", "3499", "--to", "3502", "--reduce", "mean,count,nan"},
         3499, 3502, 100, 0, {3}, {2, 5, 6}, false, false},
        {gapped, {"--every", "1s", "--utc", "--header", "--reduce", "mean,rms,sd,count,nan"}, 0, TOTAL, 1000000, 0,
         {0, 1, 2, 3}, {2, 3, 4, 5, 6}, true, true},
        {gapped, {"--every", "0.3s", "--channel", "CH0", "--reduce", "min,max,count", "--from", "4.5s", "--to", "15.5s"},
         45000, 115990, 300000, 0, {0}, {0, 1, 5}, false, false},
        {gapped, {"--every", "7777", "--channel", "CH1", "--reduce", "mean,count", "--from", "3s"}, 30000, TOTAL, 0, 7777,
         {1}, {2, 5}, false, false},
    };
    const auto stretchOf = [](const Recording& r, std::uint64_t i) {
        const std::size_t f = r.FileOf(i);
        return (f >= 1 && r.lost[0] > 0) + (f >= 2 && r.lost[1] > 0);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        const Recording& r = c.recording;
        std::string expected;
        if (c.header) {
            expected = c.utc ? "utc" : "time";
            for (const int ch : c.channels) {
                for (const int n : c.reductions) expected += ",CH" + std::to_string(ch) + " " + NAMES[n];
            }
            expected += ",gap\r\n";
        }
        const auto interval = [&](std::uint64_t i) { return (START + r.Micros(i)) / std::max<std::int64_t>(c.micros, 1); };
        for (std::uint64_t begin = c.first; begin < c.last;) {
            std::uint64_t end = begin + 1;
            while (end < c.last && stretchOf(r, end) == stretchOf(r, begin) &&
                   (c.micros > 0 ? interval(end) == interval(begin) : end - begin < c.samples)) {
                ++end;
            }
            const bool afterGap = begin > c.first && stretchOf(r, begin) != stretchOf(r, begin - 1);
            const bool beforeGap = end < TOTAL && stretchOf(r, end) != stretchOf(r, end - 1);
            const std::int64_t intervalStart = interval(begin) * c.micros - START;
            const std::int64_t label = begin == c.first || afterGap || c.micros == 0 ? r.Micros(begin) : intervalStart;
            const bool cut = c.micros > 0 ? (afterGap && r.Micros(begin) > intervalStart) ||
                                                (beforeGap && r.Micros(end - 1) + 100 < intervalStart + c.micros)
                                          : beforeGap && end - begin < c.samples;
            char text[200];
            if (c.utc) {
                std::snprintf(text, sizeof text, "2026-12-08T04:30:%09.6fZ", (label + 250000) / 1e6);
            } else {
                std::snprintf(text, sizeof text, "%.6f", label / 1e6);
            }
            std::string row = text;
            for (const int ch : c.channels) {
                long double sum = 0;
                long double squares = 0;
                std::uint64_t numbers = 0;
                double low = INFINITY;
                double high = -INFINITY;
                for (std::uint64_t i = begin; i < end; ++i) {
                    const double v = r.all[ch][i];
                    if (!std::isnan(v)) {
                        sum += v;
                        squares += static_cast<long double>(v) * v;
                        ++numbers;
                        low = std::min(low, v);
                        high = std::max(high, v);
                    }
                }
                const double nan = std::nan("");
                const long double mean = sum / numbers;
                const double values[] = {numbers == 0 ? nan : low,
                                         numbers == 0 ? nan : high,
                                         numbers == 0 ? nan : static_cast<double>(mean),
                                         numbers == 0 ? nan : static_cast<double>(std::sqrt(squares / numbers)),
                                         numbers == 0 ? nan : static_cast<double>(std::sqrt(std::max<long double>(squares / numbers - mean * mean, 0))),
                                         static_cast<double>(end - begin),
                                         static_cast<double>(end - begin - numbers)};
                for (const int n : c.reductions) {
                    std::snprintf(text, sizeof text, n >= 5 ? ",%.0f" : ",%.5f", values[n]);
                    row += text;
                }
            }
            expected += row + (cut ? ",gap\r\n" : ",\r\n");
            begin = end;
        }
        const Result out = clitest::Run(r.dir, r.Args({"csv"}, c.args));
        EXPECT_EQ(out.status, 0) << out.err;
        EXPECT_EQ(out.err, "");
        const std::size_t differ =
            std::mismatch(out.out.begin(), out.out.end(), expected.begin(), expected.end()).first - out.out.begin();
        const std::size_t from = out.out.rfind('\n', differ) == std::string::npos ? 0 : out.out.rfind('\n', differ) + 1;
        EXPECT_TRUE(out.out == expected) << out.out.substr(from, 300) << "\n--- expected ---\n" << expected.substr(from, 300);
    }
    // Literal rows: the first interval ends on a whole 0.1 s of UTC, and two rows cut by a gap.
    EXPECT_EQ(clitest::Run(whole.dir, whole.Args({"csv"}, {"--every", "0.1s"})).out.substr(0, 27),
              "0.000000,1.24950,2.24950,3.");
    EXPECT_EQ(Rows(clitest::Run(gapped.dir, gapped.Args({"csv"}, {"--every", "1s", "--channel", "CH2", "--reduce",
                                                                  "count", "--utc"})).out, 4, 9),
              "2026-12-08T04:30:04.000000Z,10000,\r\n"
              "2026-12-08T04:30:05.000000Z,2501,gap\r\n"
              "2026-12-08T04:30:07.444100Z,5559,gap\r\n"
              "2026-12-08T04:30:08.000000Z,10000,\r\n"
              "2026-12-08T04:30:09.000000Z,10000,\r\n");
    for (const std::vector<std::string>& refused : std::vector<std::vector<std::string>>{
             {"--every", "1s", "--reduce", "mean,mean"}, {"--every", "1s", "--reduce", "median"}, {"--reduce", "min"},
             {"--header"}, {"--every", "0s"}, {"--every", "0"}, {"--time", "--utc"}}) {
        const Result r = clitest::Run(whole.dir, whole.Args({"csv"}, refused));
        EXPECT_EQ(r.status, 2) << refused[0] << " " << refused[1];
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(clitest::Run(whole.dir, whole.Args({"csv"}, {"--every", "0s"})).err,
              "vosctl: パラメータが無効です (--every: \"0s\" is no interval: it must be positive; see vosctl --help)\n");
    const Result partial = clitest::Run(whole.dir, whole.Args({"csv"}, {"--every", "0.00015s"}));
    EXPECT_EQ(partial.status, 2);
    EXPECT_EQ(partial.err, "vosctl: --every 0.00015s is not a whole number of samples (the record takes a sample "
                           "every 100 us)\n");
    const Result unstamped = clitest::Run(whole.dir, {"csv", whole.unstamped, "--every", "1s", "--utc"});
    EXPECT_EQ(unstamped.status, 2);
    EXPECT_EQ(unstamped.err,
              "vosctl: --utc needs a record that a recording stamped (give --time for the time from its start)\n");
}

// Times from the start run on through the gaps as the stamps tell them:
// --from, info's seconds and csv's time column agree with the UTC stamps.
TEST(VosctlPart, TimesFromTheStartRunThroughGaps) {
    // File 2 (from sample 50001) starts 7.1941 s after the start, file 3 (from 110004) 14.9014 s.
    const Recording gapped(21940, 17070);
    const Result json = clitest::Run(gapped.dir, gapped.Args({"info", "--json"}, {"--from", "15s", "--to", "16000ms"}));
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json info = nlohmann::json::parse(json.out);
    EXPECT_EQ(info["from"], 110990);
    EXPECT_EQ(info["to"], 120990);
    EXPECT_EQ(info["from_seconds"].get<double>(), 15.0);
    EXPECT_EQ(info["to_seconds"].get<double>(), 16.0);
    EXPECT_EQ(info["start"], "2026-12-08T04:30:15.250000Z");
    EXPECT_EQ(info["end"], "2026-12-08T04:30:16.249900Z");
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        // A time inside the first gap names the first sample after it.
        {{"--from", "6s", "--to", "50003", "--time"}, "7.194100,1.00100,2.00100,3.00100,4.00100\r\n"
                                                       "7.194200,1.00200,2.00200,3.00200,4.00200\r\n"},
        {{"--from", "2026-12-08T13:30:15.25+09:00", "--to", "110991", "--utc", "--channel", "CH0"},
         "2026-12-08T04:30:15.250000Z,1.99000\r\n"},
        {{"--from", "50000", "--to", "50002", "--utc", "--channel", "CH1"},
         "2026-12-08T04:30:05.250000Z,2.00000\r\n2026-12-08T04:30:07.444100Z,2.00100\r\n"},
        {{"--from", "14901400us", "--to", "110005", "--time", "--channel", "CH2"}, "14.901400,3.00400\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        const Result r = clitest::Run(gapped.dir, gapped.Args({"csv"}, c.args));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
    const Result bounds = clitest::Run(gapped.dir, gapped.Args({"info"}, {"--from", "18.9015s"}));
    EXPECT_EQ(bounds.status, 2);
    EXPECT_EQ(bounds.err.substr(bounds.err.find("vosctl: --from")), "vosctl: --from 18.9015s lies outside the record (the record holds samples 0 to 149999, "
                          "from 0s to 18.9009s after its start, UTC 2026-12-08T04:30:00.250000Z to "
                          "2026-12-08T04:30:19.150900Z, with 2 gaps in its time)\n");
}

// The picture of a part is the window's picture of a file holding just
// those samples.
TEST(VosctlPart, PlotOfAPartIsThePictureOfThoseSamples) {
    const Recording recording;
    std::vector<double> part[4];
    for (int ch = 0; ch < 4; ++ch) {
        part[ch].assign(recording.all[ch].begin() + 49990, recording.all[ch].begin() + 110010);
    }
    const std::string alone = recording.dir.Path("alone.dlf");
    clitest::WriteRecord(alone, {}, part);
    const Result expected = clitest::Run(recording.dir, {"plot", alone, "-o", recording.dir.Path("alone.png")});
    ASSERT_EQ(expected.status, 0) << expected.err;
    const Result r = clitest::Run(recording.dir, recording.Args({"plot"}, {"--from", "49990", "--to", "11.001s", "-o",
                                                                           recording.dir.Path("part.png")}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string picture = clitest::ReadText(recording.dir.Path("alone.png"));
    EXPECT_GT(picture.size(), 1000u);
    EXPECT_TRUE(clitest::ReadText(recording.dir.Path("part.png")) == picture);
}

}  // namespace
