// vosctl's file commands as processes on long series and on files that
// other copies of it read at the same time.
#include <sys/resource.h>

#include "cli_process.h"
#include "files/dlf.h"
#include "files/unsynced_write.h"
#include "record/long_record.h"
#include "record/summary_cache.h"

namespace {

using clitest::Result;
using clitest::WriteRecord;

// The process's limits on open descriptors lowered to `limit` while it
// lives, as `ulimit -n` does (soft and hard: vosctl raises its soft limit to
// the hard one); the processes started meanwhile inherit them.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t limit) {
        EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &m_saved), 0);
        struct rlimit lowered = m_saved;
        lowered.rlim_cur = limit;
        lowered.rlim_max = limit;
        EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &m_saved); }
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

private:
    struct rlimit m_saved {};
};

// `files` files night-000001.dlf ... of one recording at 10 kHz, `samples`
// samples each: CH0 1 V, CH1 2 V, CH2 3 V, CH3 4 V, but 9.25 V on CH0 at
// sample 3 of file 1118 when there is one.
std::vector<std::string> WriteNight(const TempDir& dir, int files, std::uint32_t samples) {
    std::vector<std::string> paths;
    for (int f = 0; f < files; ++f) {
        std::vector<double> channels[4];
        for (int ch = 0; ch < 4; ++ch) {
            channels[ch].assign(samples, 1.0 + ch);
        }
        if (f == 1117) {
            channels[0][3] = 9.25;
        }
        DataFileHeader header;
        header.stamp = RecordingStamp{1796704200250000 + 100 * std::int64_t{f} * samples,
                                      {0xB7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xB7},
                                      static_cast<std::uint64_t>(f) + 1, std::uint64_t{samples} * f};
        header.sampleCount = samples;
        char name[32];
        std::snprintf(name, sizeof name, "night-%06d.dlf", f + 1);
        paths.push_back(dir.Path(name));
        WriteUnsynced(paths.back(), header, channels);
    }
    return paths;
}

std::vector<std::string> Args(std::vector<std::string> head, const std::vector<std::string>& files,
                              const std::vector<std::string>& tail = {}) {
    head.insert(head.end(), files.begin(), files.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// 1,200 files under a limit of 256 open descriptors: info, plot and csv
// read them all, whatever the summaries cache holds.
TEST(VosctlSeriesFiles, ASeriesOfMoreFilesThanDescriptorsIsReadWhole) {
    TempDir dir;
    const std::vector<std::string> night = WriteNight(dir, 1200, 10);
    const DescriptorLimit limit(256);

    const Result info = clitest::Run(dir, Args({"info"}, night));
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.err, "");
    const std::size_t series = info.out.find("series of 1200 files");
    ASSERT_NE(series, std::string::npos) << info.out.substr(0, 2000);
    const std::string whole = info.out.substr(series);
    EXPECT_NE(whole.find("  samples         12000\n"), std::string::npos) << whole;
    EXPECT_NE(whole.find("  CH0             max 9.25000 V  min 1.00000 V\n"), std::string::npos) << whole;
    EXPECT_NE(whole.find("  CH3             max 4.00000 V  min 4.00000 V\n"), std::string::npos) << whole;

    const Result plot = clitest::Run(dir, Args({"plot"}, night, {"-o", dir.Path("night.png")}));
    EXPECT_EQ(plot.status, 0) << plot.err;
    EXPECT_EQ(clitest::ReadText(dir.Path("night.png")).substr(0, 8), "\x89PNG\r\n\x1a\n");

    const Result csv = clitest::Run(dir, Args({"csv"}, night, {"-o", dir.Path("night.csv")}));
    EXPECT_EQ(csv.status, 0) << csv.err;
    std::string expected;
    for (int row = 0; row < 12000; ++row) {
        expected += row == 11173 ? "9.25000,2.00000,3.00000,4.00000\r\n" : "1.00000,2.00000,3.00000,4.00000\r\n";
    }
    EXPECT_TRUE(clitest::ReadText(dir.Path("night.csv")) == expected);
}

// Eight copies of vosctl started at once on one file, and eight on one
// series: readers share the files, so every one of them ends with 0.
TEST(VosctlSeriesFiles, EightReadersOfOneFileAndOfOneSeriesAllSucceed) {
    TempDir dir;
    std::vector<double> big[4];
    for (int ch = 0; ch < 4; ++ch) {
        big[ch].assign(1000000, 0.5 * ch);
    }
    const std::string file = dir.Path("big.dlf");
    WriteRecord(file, {}, big);
    const std::vector<std::string> night = WriteNight(dir, 5, 200000);
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> commands;
    };
    const Case cases[] = {
        {"one file",
         {{"csv", file, "-o", dir.Path("1.csv")}, {"csv", file, "-o", dir.Path("2.csv")},
          {"csv", file, "-o", dir.Path("3.csv")}, {"csv", file, "-o", dir.Path("4.csv")},
          {"csv", file, "-o", dir.Path("5.csv")}, {"info", file}, {"info", file}, {"info", file}}},
        {"one series", std::vector<std::vector<std::string>>(8, Args({"info"}, night))},
    };
    const clitest::Environment environment({"XDG_CACHE_HOME=" + dir.Path("cache")});
    for (const Case& test : cases) {
        std::vector<pid_t> pids;
        std::vector<std::string> logs;
        for (std::size_t i = 0; i < test.commands.size(); ++i) {
            logs.push_back(dir.Path("reader-" + std::to_string(i) + ".err"));
            const int err = ::open(logs.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
            pids.push_back(clitest::Spawn(test.commands[i], environment, out, err));
            ::close(err);
            ::close(out);
        }
        for (std::size_t i = 0; i < pids.size(); ++i) {
            EXPECT_EQ(clitest::WaitExitWithin(pids[i], 120), 0)
                << test.name << ", reader " << i << ": " << clitest::ReadText(logs[i]);
        }
    }
}

// A cache folder that cannot be made: the series is still described, and
// standard error says once why its summaries were not kept.
TEST(VosctlSeriesFiles, ACacheThatCannotBeWrittenIsSaidOnce) {
    TempDir dir;
    const std::vector<std::string> night = WriteNight(dir, 3, 100);
    const std::string blocker = dir.Path("not-a-folder");
    clitest::WriteText(blocker, "");
    const Result info = clitest::Run(dir, Args({"info"}, night), clitest::Environment({"XDG_CACHE_HOME=" + blocker}));
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("series of 3 files"), std::string::npos) << info.out;
    EXPECT_EQ(info.err, "vosctl: the summaries could not be cached (" + blocker +
                            "/vosviewer/summaries: Not a directory); they are built again at each run\n");
}

// `info` of a series of 4,295 files of 1,000,000 samples, 4,295,000,000 per
// channel, past the largest 32-bit count: the files are sparse (headers and
// holes, which read as 0 V), and their summaries come from the cache, made
// here as a build would make them (a build would read 137 GB of holes).
TEST(VosctlSeriesFiles, InfoOfASeriesBeyondTwoToTheThirtySecondSamplesGivesItsTotals) {
    TempDir dir;
    const std::vector<std::string> paths = WriteSparseSeries(dir.Path(""), "week", 4295, 1000000);
    ASSERT_EQ(paths.size(), 4295u);
    const std::string home = dir.Path("cache");
    {
        SeriesSource series;
        ASSERT_EQ(series.Open(paths), FileError::None);
        const SummaryPyramid zeros = UniformSummaries(SummaryShapeFor(series.Count()), series.Count(), 0.0, paths.size());
        std::string problem;
        ASSERT_TRUE(StoreSummaries(home + "/vosviewer/summaries", series, zeros, &problem)) << problem;
    }
    const clitest::Environment cached({"XDG_CACHE_HOME=" + home});
    const std::string outPath = dir.Path("info.json");
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int errFd = ::open(dir.Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = clitest::Spawn({"info", "--json", dir.Path("week")}, cached, outFd, errFd);
    ::close(outFd);
    ::close(errFd);
    ASSERT_EQ(clitest::WaitExitWithin(pid, 120), 0) << clitest::ReadText(dir.Path("err"));
    const std::string out = clitest::ReadText(outPath);
    const std::string last = out.substr(out.rfind('\n', out.size() - 2) + 1);
    EXPECT_NE(last.find(R"("clock":"10kHz","clock_divider":1,"sample_count":4295000000,"duration":"429500 S")"),
              std::string::npos)
        << last.substr(last.size() - std::min<std::size_t>(last.size(), 600));
    EXPECT_NE(last.find(R"("summary":[{"channel":"CH0","maximum":"0.00000 V","minimum":"0.00000 V"})"),
              std::string::npos);
    EXPECT_NE(out.find(R"("file":")" + paths.back() + R"(","format_version":1)"), std::string::npos);
}

}  // namespace
