// vosctl run as a process against the simulated driver library.
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <regex>

#include "cli_process.h"
#include "files/dlf.h"
#include "vos/version.h"

namespace {

using clitest::Exists;
using clitest::NO_DRIVER;
using clitest::ONE_LOGGER;
using clitest::Result;
using clitest::RunSim;
using clitest::Via;
using clitest::WriteRecord;

TEST(VosctlList, ListsWhatSearchWouldList) {
    struct Case {
        const char* name;
        std::optional<std::string> config;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"default bus", std::nullopt, 0, "16001\n12001\n", ""},
        {"empty bus", "pace instant\n", 3, "", "vosctl: デバイスが見つかりません (no logger found)\n"},
        {"device count fails", "bus list_status=4\ndevice serial=20001\n", 3, "",
         "vosctl: その他のエラーが発生しました (the logger list could not be read)\n"},
        {"foreign device skipped", "device serial=20001\ndevice serial=FT1 description=FT232R_USB_UART\n", 0,
         "20001\n", ""},
        {"unreadable serial ends the list", "device serial=20001\ndevice serial=ABC\ndevice serial=20003\n", 3,
         "20001\n", "vosctl: デバイスが見つかりません (the logger list could not be read)\n"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        for (const Via via : {Via::DriverOption, Via::LibraryPath}) {
            SCOPED_TRACE(std::string(c.name) + (via == Via::DriverOption ? " via --driver" : " via LD_LIBRARY_PATH"));
            const Result result = RunSim(dir, via, c.config, {"list"});
            EXPECT_EQ(result.status, c.status);
            EXPECT_EQ(result.out, c.out);
            EXPECT_EQ(result.err, c.err);
        }
    }
}

TEST(VosctlList, DetailsReadEachLoggersCalibration) {
    TempDir dir;
    const Result result = RunSim(dir, Via::DriverOption,
                                 "device serial=20001 resolution=16\n"
                                 "calibration v1=1 v2=9 c1=6400,6402,6404,6406 c2=57600,57598,57596,57594\n"
                                 "device serial=20002 resolution=12\n"
                                 "calibration v1=0.5 v2=9.5 c1=100,200,300,400 c2=4000,4001,4002,4003\n",
                                 {"list", "--details"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "20001  16-bit  V1=1.00000 V C1=6400,6402,6404,6406  V2=9.00000 V C2=57600,57598,57596,57594\n"
              "20002  12-bit  V1=0.50000 V C1=100,200,300,400  V2=9.50000 V C2=4000,4001,4002,4003\n");
}

// Bad values are refused before the driver is loaded: a missing driver
// would end with status 3 instead.
TEST(VosctlOptions, BadValuesAreRefusedNamingTheAcceptedOnes) {
    struct Case {
        std::vector<std::string> args;
        std::string named;
    };
    const Case cases[] = {
        {{"acquire", "--clock", "3kHz", "-o", "x.dlf"},
         "10kHz, 5kHz, 2kHz, 1kHz, 500Hz, 200Hz, 100Hz, 50Hz, 20Hz, 10Hz, 5Hz, 2Hz, 1Hz"},
        {{"acquire", "--count", "0", "-o", "x.dlf"}, "1 to 1000000"},
        {{"acquire", "--count", "1000 ", "-o", "x.dlf"}, "\"1000 \" is not a whole number from 1 to 1000000 in decimal digits only"},
        {{"acquire", "--count", "1e3", "-o", "x.dlf"}, "\"1e3\" is not a whole number from 1 to 1000000 in decimal digits only"},
        {{"acquire", "--count", "10,000", "-o", "x.dlf"}, "in decimal digits only"},
        {{"acquire", "--count", "0x10", "-o", "x.dlf"}, "in decimal digits only"},
        {{"acquire", "--trigger", "CH4:Level-H:1", "-o", "x.dlf"}, "CH0, CH1, CH2, CH3"},
        {{"acquire", "--trigger", "CH0:Rising:1", "-o", "x.dlf"}, "Level-H, Level-L, Slope-Rising, Slope-Falling"},
        {{"acquire", "--trigger", "CH0:Level-H:abc", "-o", "x.dlf"}, "\"abc\""},
        {{"acquire", "--channel", "CH5", "-o", "x.csv"}, "CH0, CH1, CH2, CH3, ALL"},
        {{"acquire", "-o", "x.txt"}, ".dlf or .csv"},
        {{"acquire"}, "--output is required"},
        {{"acquire", "--channel", "CH1", "-o", "x.dlf"},
         "--channel chooses the columns of CSV; a .dlf output always holds all four channels"},
        {{"acquire", "-o", "night/"}, "\"night/\" ends in a slash; the output names files, e.g. night/run.dlf"},
        {{"acquire", "-o", "/"}, "\"/\" ends in a slash"},
        {{"record", "--samples", "10", "-o", "night/"}, "\"night/\" ends in a slash; the prefix names files, e.g. night/run"},
        {{"record", "--samples", "10", "-o", "."}, "\".\" is a folder; the prefix names files, e.g. ./run"},
        {{"csv", "--channel", "all", "x.dlf"}, "CH0, CH1, CH2, CH3, ALL"},
        {{"plot", "x.dlf", "-o", "x.png", "--overlay", "--panes"}, "excludes"},
        {{}, "subcommand is required"},
        {{"bogus", "x.dlf"}, "unknown command \"bogus\"; the commands are list, acquire, info, csv, export, plot, record, recover, doctor"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        std::vector<std::string> args{"--driver", NO_DRIVER};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result result = clitest::Run(dir, args);
        SCOPED_TRACE(result.err);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err.rfind("vosctl: パラメータが無効です (", 0), 0u);
        EXPECT_NE(result.err.find(c.named), std::string::npos);
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(Exists("x.dlf"));
    }
}

TEST(VosctlOptions, HelpAndVersionGoToStandardOutput) {
    TempDir dir;
    const Result version = clitest::Run(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("vosctl ") + VOS_VERSION + "\n");
    for (const char* command : {"list", "acquire", "info", "csv", "plot", "record"}) {
        const Result help = clitest::Run(dir, {command, "--help"});
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.out.find(std::string("vosctl ") + command), std::string::npos) << help.out;
        EXPECT_NE(help.out.find("129  ended by SIGHUP"), std::string::npos) << help.out;
        EXPECT_NE(help.out.find("141  standard output's reader went away"), std::string::npos) << help.out;
        EXPECT_EQ(help.err, "");
        // A type name is the whole form, with nothing appended that reads as one more field.
        for (const char* name : {"VOLTS:", "CLOCK:", "N:", "CH:CH", "TIME:"}) {
            EXPECT_EQ(help.out.find(name), std::string::npos) << name << "\n" << help.out;
        }
    }
}

// Each failure class has its own status and its message with an English
// gloss. A failure before the first sample leaves an existing output file as
// it was; a logger that fails part-way leaves the samples it sent, written as
// Stop writes them (two frames lead and the first kept one is the trigger
// test's: 100 frames give 97 samples).
TEST(VosctlAcquire, FailuresKeepWhatWasStored) {
    struct Case {
        const char* name;
        const char* config;  // null: no driver at all
        std::vector<std::string> options;
        std::string err;
        std::uint32_t stored;  // 0: the output is left as it was
    };
    const Case cases[] = {
        {"no driver", nullptr, {}, "vosctl: VOS-12/VOS-16がインストールできていません (", 0},
        {"no logger", "pace instant\n", {}, "vosctl: デバイスが見つかりません (no logger found)\n", 0},
        {"serial not attached", ONE_LOGGER, {"--serial", "30002"}, "vosctl: デバイスが見つかりません (no logger found)\n", 0},
        {"open refused", "device serial=30001\nfault open status=3\n", {},
         "vosctl: デバイスをオープンできません (the logger could not be opened)\n", 0},
        {"stream stalls", "pace instant\ndevice serial=30001\nfault stall_after=100\n", {},
         "vosctl: 通信エラーが発生しました (communication with the logger failed; the 97 samples received before it are in ", 97},
        {"stalls before the first sample", "pace instant\ndevice serial=30001\nfault stall_after=1\n", {},
         "vosctl: 通信エラーが発生しました (communication with the logger failed; no sample was received, nothing written)\n", 0},
        {"disconnected", "pace instant\ndevice serial=30001\nfault disconnect_after=100\n", {},
         "vosctl: その他のエラーが発生しました (another driver or logger error; the 97 samples received before it are in ", 97},
        {"unplugged", "pace instant\ndevice serial=30001\nfault unplug_after=100\n", {},
         "vosctl: その他のエラーが発生しました (another driver or logger error; the 97 samples received before it are in ", 97},
    };
    TempDir dir;
    std::vector<double> storage(4 * std::size_t{DLF_MAX_SAMPLE_COUNT});
    double* const channels[4] = {storage.data(), storage.data() + DLF_MAX_SAMPLE_COUNT,
                                 storage.data() + 2 * DLF_MAX_SAMPLE_COUNT, storage.data() + 3 * DLF_MAX_SAMPLE_COUNT};
    for (const std::string output : {"kept.dlf", "kept.csv"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " " + output);
            clitest::WriteText(dir.Path(output), "kept");
            std::vector<std::string> args{"acquire", "--count", "1000", "-o", dir.Path(output)};
            args.insert(args.end(), c.options.begin(), c.options.end());
            Result result;
            if (c.config == nullptr) {
                args.insert(args.begin(), {"--driver", NO_DRIVER});
                result = clitest::Run(dir, args);
            } else {
                result = RunSim(dir, Via::DriverOption, c.config, args);
            }
            EXPECT_EQ(result.status, 3);
            EXPECT_EQ(result.err.rfind(c.err, 0), 0u) << result.err;
            EXPECT_EQ(result.out, "");
            const std::string written = clitest::ReadText(dir.Path(output));
            if (c.stored > 0) {
                EXPECT_EQ(result.err, c.err + dir.Path(output) + ")\n");
            }
            if (c.stored == 0) {
                EXPECT_EQ(written, "kept");
            } else if (output == "kept.csv") {
                EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), c.stored);
            } else {
                DataFileHeader header;
                ASSERT_EQ(LoadDataFile(dir.Path(output), header, channels), FileError::None);
                EXPECT_EQ(header.sampleCount, c.stored);
            }
        }
    }
}

// The trigger holds the record back until the channel crosses the threshold:
// CH0 is a 1 Hz sawtooth from 1 V to 9 V, 0.0008 V per 10 kHz frame.
TEST(VosctlAcquire, TriggerStartsTheRecordAtTheThreshold) {
    struct Case {
        const char* trigger;
        double low;
        double high;
    };
    const Case cases[] = {
        {"CH0:Level-H:7.5", 7.5, 7.502},
        {"CH0:Slope-Rising:3", 3.0, 3.002},
        {"CH1:Level-L:0.6", 0.49, 0.51},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trigger);
        const Result result = RunSim(dir, Via::LibraryPath,
                                     "pace instant\ndevice serial=30001\n"
                                     "channel 0 sawtooth freq=1 amp=4 offset=5\n"
                                     "channel 1 square freq=1 amp=4.5 offset=5\n",
                                     {"acquire", "--count", "3", "--trigger", c.trigger, "-o", "-"});
        ASSERT_EQ(result.status, 0) << result.err;
        const int channel = c.trigger[2] - '0';
        std::istringstream rows(result.out);
        std::string row;
        int rowCount = 0;
        while (std::getline(rows, row)) {
            if (rowCount++ == 0) {
                std::vector<double> values;
                std::istringstream fields(row);
                for (std::string field; std::getline(fields, field, ',');) {
                    values.push_back(std::stod(field));
                }
                ASSERT_EQ(values.size(), 4u) << row;
                EXPECT_GT(values[channel], c.low) << row;
                EXPECT_LT(values[channel], c.high) << row;
            }
        }
        EXPECT_EQ(rowCount, 3);
    }
}

// Interrupts act as Stop part-way through a real-time run: the samples
// stored so far are written as the record.
TEST(VosctlAcquire, InterruptKeepsTheSamplesStoredSoFar) {
    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        SCOPED_TRACE(signal);
        TempDir dir;
        const std::string path = dir.Path("part.dlf");
        clitest::TerminalRun run(dir, "device serial=30001\nchannel 0 sine freq=1 amp=4 offset=5\n",
                                 {"acquire", "--count", "200000", "-o", path});
        const std::regex progress(R"(\[[#-]+\]  [1-9][0-9]*/200000 samples  0:0[0-9] elapsed  0:[0-9]{2} left)");
        ASSERT_TRUE(run.ReadUntil([&](const std::string& shown) { return std::regex_search(shown, progress); }))
            << run.Shown();
        run.Signal(signal);
        EXPECT_EQ(run.Finish(), status) << run.Shown();
        DataFileHeader header;
        std::vector<double> storage(4 * std::size_t{DLF_MAX_SAMPLE_COUNT});
        double* const channels[4] = {storage.data(), storage.data() + DLF_MAX_SAMPLE_COUNT,
                                     storage.data() + 2 * DLF_MAX_SAMPLE_COUNT, storage.data() + 3 * DLF_MAX_SAMPLE_COUNT};
        ASSERT_EQ(LoadDataFile(path, header, channels), FileError::None) << run.Shown();
        EXPECT_GT(header.sampleCount, 0u);
        EXPECT_LT(header.sampleCount, 200000u);
        EXPECT_EQ(std::filesystem::file_size(path), 256 + 32 * std::uintmax_t{header.sampleCount});
    }
}

// Makes `folder` take no new file (`shut`) or take them again: its write
// permission, and for root, whom permissions do not stop, its immutable
// flag. False when a file can still be created in it.
bool ShutFolder(const std::string& folder, bool shut) {
    ::chmod(folder.c_str(), shut ? 0555 : 0755);
    if (::geteuid() == 0) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = shut ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        if (fd >= 0) ::close(fd);
    }
    const std::string trial = folder + "/trial";
    const int fd = ::open(trial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return true;
    ::close(fd);
    ::unlink(trial.c_str());
    return false;
}

// The output is tried before the driver is loaded, and an output that fails
// after the run leaves the record in a recovery file that is named.
TEST(VosctlAcquire, OutputsAreTriedFirstAndSamplesAreKept) {
    TempDir dir;
    const std::pair<std::string, std::string> refusals[] = {
        {dir.Path("gone/run.dlf"), "cannot open the file: the folder " + dir.Path("gone") + " does not exist"},
        {dir.Path(std::string(252, 'n') + ".csv"), "cannot open the file: the name is too long"},
    };
    for (const auto& [output, cause] : refusals) {
        const Result refused = clitest::Run(dir, {"--driver", NO_DRIVER, "acquire", "-o", output});
        EXPECT_EQ(refused.status, 4);
        EXPECT_EQ(refused.err, "vosctl: ファイルオープンエラーです (" + output + ": " + cause +
                                   "; checked before the logger starts)\n");
    }
    // A file that may be written, in a folder that takes no new file: the
    // new file that replaces it could not be made there after the run.
    const std::string shut = dir.Path("shut");
    std::filesystem::create_directory(shut);
    clitest::WriteText(shut + "/run.dlf", "kept");
    if (ShutFolder(shut, true)) {
        const Result refused = clitest::Run(dir, {"--driver", NO_DRIVER, "acquire", "-o", shut + "/run.dlf"});
        EXPECT_EQ(refused.status, 4);
        EXPECT_EQ(refused.err, "vosctl: ファイルオープンエラーです (" + shut +
                                   "/run.dlf: a new file to replace it cannot be created in its folder: permission "
                                   "denied; checked before the logger starts)\n");
    } else {
        std::cout << "a folder here cannot be shut; that case is skipped\n";
    }
    ShutFolder(shut, false);
    EXPECT_EQ(clitest::ReadText(shut + "/run.dlf"), "kept");

    std::vector<double> storage(4 * std::size_t{DLF_MAX_SAMPLE_COUNT});
    double* const channels[4] = {storage.data(), storage.data() + DLF_MAX_SAMPLE_COUNT,
                                 storage.data() + 2 * DLF_MAX_SAMPLE_COUNT, storage.data() + 3 * DLF_MAX_SAMPLE_COUNT};
    DataFileHeader header;
    const std::string folder = dir.Path("removed");
    const std::string temporary = dir.Path("tmp");
    std::filesystem::create_directory(folder);
    std::filesystem::create_directory(temporary);
    ::setenv("TMPDIR", temporary.c_str(), 1);
    clitest::TerminalRun run(dir, "device serial=30001\n", {"acquire", "--count", "20000", "-o", folder + "/run.dlf"});
    ::unsetenv("TMPDIR");
    ASSERT_TRUE(run.ReadUntil([](const std::string& shown) { return shown.find("/20000 samples") != std::string::npos; }))
        << run.Shown();
    std::filesystem::remove(folder);
    EXPECT_EQ(run.Finish(), 4) << run.Shown();
    const std::string kept = temporary + "/run-recovered-";
    EXPECT_NE(run.Shown().find("vosctl: the 20000 samples are kept in " + kept), std::string::npos) << run.Shown();
    std::vector<std::string> recovered;
    for (const auto& entry : std::filesystem::directory_iterator(temporary)) recovered.push_back(entry.path().string());
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_EQ(recovered[0].rfind(kept, 0), 0u);
    ASSERT_EQ(LoadDataFile(recovered[0], header, channels), FileError::None);
    EXPECT_EQ(header.sampleCount, 20000u);
}

// Any signal that ends a process, while csv or plot writes its output,
// removes the hidden new file, and the target is never created. The process
// is held still (SIGSTOP) once the new file exists, so the signal surely finds it.
TEST(VosctlCsv, ASignalLeavesNoHiddenFile) {
    TempDir dir;
    // Two files, so that plot builds their summaries with its output open.
    const std::string inputs[] = {dir.Path("big1.dlf"), dir.Path("big2.dlf")};
    {
        std::vector<double> values[4];
        for (auto& channel : values) channel.assign(DLF_MAX_SAMPLE_COUNT, 1.25);
        for (const std::string& input : inputs) WriteRecord(input, {}, values);
    }
    struct Case {
        const char* command;
        int signal;
    };
    const Case cases[] = {{"csv", SIGTERM}, {"csv", SIGQUIT}, {"csv", SIGUSR1}, {"csv", SIGALRM},
                          {"plot", SIGQUIT}, {"plot", SIGUSR1}, {"plot", SIGALRM}};
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.command) + " " + std::to_string(test.signal));
        const std::string output = dir.Path(std::string("out.") + (test.command[0] == 'c' ? "csv" : "png"));
        std::vector<std::string> args = {test.command, inputs[0], "-o", output};
        if (test.command[0] == 'p') args.insert(args.begin() + 2, inputs[1]);
        pid_t pid = -1;
        // Should the command finish between the last look and the stop, it runs again.
        for (int attempt = 0; attempt < 5 && pid < 0; ++attempt) {
            const int nullFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
            clitest::Environment environment;
            // A cache of its own each time, so that plot builds the summaries again.
            std::filesystem::remove_all(dir.Path("cache"));
            environment.Set("XDG_CACHE_HOME", dir.Path("cache"));
            pid = clitest::Spawn(args, environment, nullFd, nullFd);
            ::close(nullFd);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (clitest::HiddenFiles(dir.Path("")).empty() && std::chrono::steady_clock::now() < deadline) {
            }
            // Looked at only once it has stopped: a process signalled may still run a while.
            if (!clitest::StopProcess(pid)) {
                std::filesystem::remove(output);
                pid = -1;
                continue;
            }
            if (clitest::HiddenFiles(dir.Path("")).empty()) {
                ::kill(pid, SIGCONT);
                clitest::WaitExitWithin(pid, 30);
                std::filesystem::remove(output);
                pid = -1;
            }
        }
        ASSERT_GT(pid, 0) << "the new file was never seen";
        ::kill(pid, test.signal);
        ::kill(pid, SIGCONT);
        EXPECT_EQ(clitest::WaitExitWithin(pid, 30), 128 + test.signal);
        EXPECT_EQ(clitest::HiddenFiles(dir.Path("")), std::vector<std::string>());
        EXPECT_FALSE(Exists(output));
    }
}

TEST(VosctlAcquire, InterruptBeforeTheTriggerWritesNothing) {
    TempDir dir;
    const std::string path = dir.Path("none.dlf");
    clitest::TerminalRun run(dir, "device serial=30001\nchannel 0 dc offset=1\n",
                             {"acquire", "--trigger", "CH0:Level-H:5", "-o", path});
    ASSERT_TRUE(run.ReadUntil([](const std::string& shown) { return shown.find("waiting for trigger") != std::string::npos; }))
        << run.Shown();
    run.Signal(SIGINT);
    EXPECT_EQ(run.Finish(), 130);
    EXPECT_NE(run.Shown().find("vosctl: 正常終了しました (stopped before the first sample; nothing written)"),
              std::string::npos)
        << run.Shown();
    EXPECT_FALSE(Exists(path));
}

}  // namespace

namespace {

// A copy of vosctl outside the build tree finds no drawing module beside it
// (nor a package here): plot names every place it looked and the ways on,
// and draws once the module is copied beside it.
TEST(VosctlPlot, ACopyElsewhereSaysWhereItLookedForTheDrawingModule) {
    TempDir dir;
    std::vector<double> values[4];
    for (auto& channel : values) channel.assign(100, 2.5);
    WriteRecord(dir.Path("run.dlf"), {}, values);
    std::filesystem::create_directory(dir.Path("bin"));
    const std::string copy = dir.Path("bin/vosctl");
    std::filesystem::copy_file(clitest::VOSCTL, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    const std::string installed = VOS_PLOT_MODULE_FULL_LIBDIR "/vosctl_plot.so";
    if (Exists(installed)) GTEST_SKIP() << "the package's drawing module is installed here: " << installed;

    const std::vector<std::string> args{"plot", dir.Path("run.dlf"), "-o", dir.Path("run.png")};
    const Result missing = clitest::Run(dir, args, {}, copy);
    EXPECT_EQ(missing.status, 4);
    EXPECT_EQ(missing.err, "vosctl: ファイルオープンエラーです (cannot load the drawing module: vosctl_plot.so is in none of " +
                               dir.Path("bin/vosctl_plot.so") + ", " + dir.Path(VOS_PLOT_MODULE_LIBDIR) +
                               "/vosctl_plot.so, " + installed +
                               "; run the vosctl of the build tree (src/cli/vosctl) or of the package, or copy "
                               "vosctl_plot.so beside this vosctl)\n");
    EXPECT_FALSE(Exists(dir.Path("run.png")));

    std::filesystem::copy_file(std::filesystem::path(clitest::VOSCTL).parent_path() / "vosctl_plot.so",
                               dir.Path("bin/vosctl_plot.so"));
    const Result drawn = clitest::Run(dir, args, {}, copy);
    EXPECT_EQ(drawn.status, 0) << drawn.err;
    EXPECT_TRUE(Exists(dir.Path("run.png")));
}

}  // namespace
