#include <gtest/gtest.h>

#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "doctor/doctor.h"
#include "doctor/umockdev_env.h"

namespace {

using vosdoctor::Finding;
using vosdoctor::Verdict;

const std::string RETRIGGER =
    "sudo udevadm trigger --action=add --subsystem-match=usb --property-match='PRODUCT=403/*'";
// The rules of this source tree, named absolutely, so that the fix works from any folder.
const std::string SOURCE_RULES = VOS_SOURCE_DIR "/packaging/udev/60-vosviewer.rules";
const std::string INSTALL_RULES =
    "sudo install -m 644 " + SOURCE_RULES + " /etc/udev/rules.d/ && sudo udevadm control --reload-rules && " +
    RETRIGGER;

struct FakeDevice {
    const char* name;
    const char* vendor;
    const char* product;
    const char* serial;
    int devnum;
    mode_t mode;
    bool userInGroup;          // the user belongs to the node's group
    const char* interfaceDriver;  // bound to interface <name>:1.0; nullptr for none
    // The kernel's PRODUCT property of the device and its interfaces: vendor/product/release in hex.
    const char* productProperty = "403/6001/600";
};

struct Expected {
    Verdict verdict;
    std::string textStart;
    std::string fix;
};

struct Scenario {
    const char* title;
    std::vector<FakeDevice> devices;
    bool rulesInstalled;
    std::vector<Expected> notOk;  // every finding that is not OK, in order
    // Changes the inputs beyond the fake tree; `group` is the first device node's group.
    void (*adjust)(vosdoctor::DoctorInputs& inputs, gid_t group) = nullptr;
};

// A fake /sys and /dev for this process, and a rules folder of its own.
class FakeUsb {
public:
    FakeUsb() : m_bed(umockdev_testbed_new()) {
        char pattern[] = "/tmp/vos-doctor-rules-XXXXXX";
        m_rulesDir = mkdtemp(pattern);
        std::ofstream{UdevControl()};
    }
    ~FakeUsb() {
        g_object_unref(m_bed);
        std::filesystem::remove_all(m_rulesDir);
    }
    FakeUsb(const FakeUsb&) = delete;
    FakeUsb& operator=(const FakeUsb&) = delete;

    void InstallRules() { std::ofstream(m_rulesDir + "/60-vosviewer.rules") << "# rules\n"; }
    const std::string& RulesDir() const { return m_rulesDir; }
    // Stands for udevd's control socket, there while udevd runs.
    std::string UdevControl() const { return m_rulesDir + "/control"; }

    // Adds the device and its interface; returns the node's group. Their paths
    // under /sys are added to `syspaths` when given.
    gid_t Add(const FakeDevice& d, std::vector<std::string>* syspaths = nullptr) {
        const std::string devnum = std::to_string(d.devnum);

        char node[32];
        std::snprintf(node, sizeof node, "bus/usb/001/%03d", d.devnum);
        const std::string dev = "189:" + devnum;
        gchar* device = umockdev_testbed_add_device(
            m_bed, "usb", d.name, nullptr, "idVendor", d.vendor, "idProduct", "6001", "product", d.product,
            "serial", d.serial, "busnum", "1", "devnum", devnum.c_str(), "dev", dev.c_str(), nullptr, "DEVTYPE",
            "usb_device", "DEVNAME", node, "PRODUCT", d.productProperty, nullptr);
        const std::string interfaceName = std::string(d.name) + ":1.0";
        gchar* interface = umockdev_testbed_add_device(m_bed, "usb", interfaceName.c_str(), device,
                                                       "bInterfaceNumber", "00", nullptr, "DEVTYPE",
                                                       "usb_interface", "PRODUCT", d.productProperty, nullptr);
        if (syspaths != nullptr) {
            syspaths->push_back(device);
            syspaths->push_back(interface);
        }
        const std::string root = umockdev_testbed_get_root_dir(m_bed);
        if (d.interfaceDriver != nullptr) {
            const std::string driverDir = root + "/sys/bus/usb/drivers/" + d.interfaceDriver;
            std::filesystem::create_directories(driverDir);
            std::filesystem::create_symlink(driverDir, root + interface + "/driver");
        }
        const std::string file = root + "/dev/" + node;
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream{file};
        chmod(file.c_str(), d.mode);
        g_free(interface);
        g_free(device);
        struct stat info {};
        stat(file.c_str(), &info);
        return info.st_gid;
    }

private:
    UMockdevTestbed* m_bed;
    std::string m_rulesDir;
};

// A user who owns no node and belongs to no group unless a scenario says so.
vosdoctor::Identity Tester() {
    vosdoctor::Identity who;
    who.uid = getuid() + 4242;
    who.gid = getgid() + 4242;
    who.name = "tester";
    return who;
}

vosdoctor::DoctorInputs Inputs(const FakeUsb& usb, const vosdoctor::Identity& who) {
    vosdoctor::DoctorInputs inputs;
    inputs.driver = VOS_SIM_LIBRARY;
    inputs.who = who;
    inputs.rulesDirs = {usb.RulesDir()};
    inputs.udevControl = usb.UdevControl();
    return inputs;
}

class DoctorOnFakeUsb : public testing::Test {
protected:
    void SetUp() override {
        if (!UmockdevPreloaded()) GTEST_SKIP() << "umockdev-wrapper is not installed, so there is no fake /sys";
        ::unsetenv("VOS_SIM_CONFIG");  // the simulator's two loggers, 16001 and 12001
    }
};

const FakeDevice LOGGER{"1-1", "0403", "VOS-XX", "16001", 5, 0660, true, nullptr};
const FakeDevice FOREIGN{"1-3", "0403", "FT232R USB UART", "A50285BI", 7, 0660, false, "ftdi_sio"};

TEST_F(DoctorOnFakeUsb, ReportsEachBlockingStepWithItsFix) {
    ASSERT_TRUE(std::filesystem::is_regular_file(SOURCE_RULES)) << SOURCE_RULES;
    FakeDevice bound = LOGGER;
    bound.interfaceDriver = "ftdi_sio";
    FakeDevice closed = LOGGER;
    closed.mode = 0664;
    closed.userInGroup = false;
    FakeDevice unlisted = LOGGER;
    unlisted.serial = "20001";
    const FakeDevice mouse{"1-2", "046d", "USB Receiver", "", 3, 0664, false, "usbhid", "46d/c52b/1211"};
    const std::vector<Scenario> scenarios = {
        {"no FTDI device", {mouse}, true,
         {{Verdict::Problem, "no FTDI USB device (vendor 0403) found", "plug in the logger; lsusb -d 0403: must then list it"}}},
        {"logger bound to ftdi_sio", {bound}, true,
         {{Verdict::Problem, "ftdi_sio holds interface 1-1:1.0 of logger 16001",
           "echo -n 1-1:1.0 | sudo tee /sys/bus/usb/drivers/ftdi_sio/unbind"}}},
        {"node the user cannot open", {closed}, true,
         {{Verdict::Problem, "logger 16001: user tester cannot read and write /dev/bus/usb/001/005 (", RETRIGGER}}},
        {"node the user cannot open, no rules", {closed}, false,
         {{Verdict::Problem, "logger 16001: user tester cannot read and write /dev/bus/usb/001/005 (", INSTALL_RULES},
          {Verdict::Warning, "udev rules 60-vosviewer.rules not installed", INSTALL_RULES}}},
        {"foreign FTDI adapter only", {FOREIGN}, true,
         {{Verdict::Problem, "no FTDI USB device describes itself as VOS-*",
           "plug in the logger; for a logger described otherwise, change ATTR{product} and ATTRS{product} in the "
           "udev rules (60-vosviewer.rules)"}}},
        {"logger the driver does not list", {unlisted}, true,
         {{Verdict::Problem, "the driver does not list logger 20001",
           "mend the problems above, then unplug the logger and plug it in again"}}},
        {"healthy logger", {LOGGER}, true, {}},
        {"healthy logger beside a foreign adapter on ftdi_sio", {LOGGER, FOREIGN}, true, {}},
        {"healthy logger without the rules", {LOGGER}, false,
         {{Verdict::Warning, "udev rules 60-vosviewer.rules not installed", INSTALL_RULES}}},
        {"installed program without the rules", {LOGGER}, false,
         {{Verdict::Warning, "udev rules 60-vosviewer.rules not installed",
           "sudo apt-get install --reinstall vosviewer, which puts back /usr/lib/udev/rules.d/60-vosviewer.rules "
           "and applies it"}},
         [](vosdoctor::DoctorInputs& inputs, gid_t) { inputs.sourceRules.clear(); }},
        {"no USB bus (a container)", {}, true,
         {{Verdict::Problem, "USB is not visible here: /sys/bus/usb is absent",
           "run vosctl doctor on the machine itself, or give the container the host's /sys, /dev/bus/usb and "
           "/run/udev"},
          {Verdict::Skipped, "FTDI USB devices, ftdi_sio and device nodes: USB is not visible here", ""}}},
        {"udevd not running", {bound}, true,
         {{Verdict::Problem, "udevd is not running: /run/vos-no-udev/control is absent",
           "sudo systemctl start systemd-udevd"},
          {Verdict::Skipped, "FTDI USB devices, ftdi_sio and device nodes: udevd is not running", ""}},
         [](vosdoctor::DoctorInputs& inputs, gid_t) { inputs.udevControl = "/run/vos-no-udev/control"; }},
        {"the simulated driver needs no USB", {bound}, false,
         {{Verdict::Skipped, "USB devices, device nodes and udev: the simulated driver needs none", ""}},
         [](vosdoctor::DoctorInputs& inputs, gid_t) { inputs.simulator = true; }},
        {"checked as root", {closed}, true,
         {{Verdict::Warning, "logger 16001: checked for root, who can always read and write /dev/bus/usb/001/005 (",
           "run vosctl doctor as the user who uses the logger (sudo vosctl doctor checks the caller)"}},
         [](vosdoctor::DoctorInputs& inputs, gid_t) { inputs.who.uid = 0; }},
        {"in the group file, not yet in the login's groups", {closed}, true,
         {{Verdict::Warning, "logger 16001: user tester is in group ", "log out and in again"}},
         [](vosdoctor::DoctorInputs& inputs, gid_t group) { inputs.who.fileGroups = {group}; }},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.title);
        FakeUsb usb;
        vosdoctor::Identity who = Tester();
        gid_t firstGroup = 0;
        for (const FakeDevice& d : s.devices) {
            const gid_t group = usb.Add(d);
            if (&d == &s.devices.front()) firstGroup = group;
            if (d.userInGroup) who.groups.push_back(group);
        }
        if (s.rulesInstalled) usb.InstallRules();
        vosdoctor::DoctorInputs inputs = Inputs(usb, who);
        if (s.adjust != nullptr) s.adjust(inputs, firstGroup);
        const std::vector<Finding> report = vosdoctor::RunDoctor(inputs);
        std::vector<Finding> notOk;
        for (const Finding& f : report) {
            if (f.verdict != Verdict::Ok) notOk.push_back(f);
        }
        EXPECT_EQ(notOk.size(), s.notOk.size()) << vosdoctor::FormatFinding(notOk.empty() ? report.back() : notOk[0]);
        if (notOk.size() != s.notOk.size()) continue;
        bool blocking = false;
        for (std::size_t i = 0; i < notOk.size(); ++i) {
            EXPECT_EQ(notOk[i].verdict, s.notOk[i].verdict) << notOk[i].text;
            EXPECT_EQ(notOk[i].text.rfind(s.notOk[i].textStart, 0), 0u) << notOk[i].text;
            EXPECT_EQ(notOk[i].fix, s.notOk[i].fix);
            blocking = blocking || s.notOk[i].verdict == Verdict::Problem;
        }
        EXPECT_EQ(vosdoctor::BlocksUse(report), blocking);
    }
}

// The re-trigger doctor suggests must replay the logger's interface too: the rule
// that detaches ftdi_sio matches the interface, which has no idVendor attribute.
TEST_F(DoctorOnFakeUsb, RetriggerReplaysTheLoggersInterface) {
    if (std::system("command -v udevadm >/dev/null") != 0) GTEST_SKIP() << "udevadm is not installed";
    FakeUsb usb;
    FakeDevice closed = LOGGER;
    closed.mode = 0664;
    closed.interfaceDriver = "ftdi_sio";
    std::vector<std::string> logger;
    usb.Add(closed, &logger);
    usb.Add({"1-2", "046d", "USB Receiver", "", 3, 0664, false, "usbhid", "46d/c52b/1211"});
    usb.InstallRules();
    std::string fix;
    for (const Finding& f : vosdoctor::RunDoctor(Inputs(usb, Tester()))) {
        if (f.fix.find("udevadm trigger") != std::string::npos) fix = f.fix;
    }
    ASSERT_EQ(fix.rfind("sudo udevadm trigger ", 0), 0u) << fix;
    // The same command without sudo, listing what it would replay in the fake /sys.
    const std::string command = "udevadm trigger --dry-run --verbose " + fix.substr(fix.find("trigger ") + 8);
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> replayed;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) replayed.emplace_back(line, std::strcspn(line, "\n"));
    EXPECT_EQ(pclose(pipe), 0) << command;
    EXPECT_EQ(replayed, logger) << command;
}

// The window's texts are Japanese; doctor warns when no installed font covers them.
TEST(DoctorFonts, WarnsWithoutAJapaneseFont) {
    char pattern[] = "/tmp/vos-doctor-fonts-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string config = dir + "/fonts.conf";
    std::ofstream(config) << "<?xml version=\"1.0\"?>\n<fontconfig><dir>" << dir << "</dir><cachedir>" << dir
                          << "</cachedir></fontconfig>\n";
    struct Case {
        const char* title;
        const char* fontconfigFile;  // nullptr: the system's configuration
        Verdict verdict;
        std::string textStart;
        std::string fix;
    };
    const std::vector<Case> cases = {
        {"no font at all", config.c_str(), Verdict::Warning, "no font for Japanese texts is installed",
         "sudo apt-get install fonts-ipafont-gothic"},
        {"the system's fonts (fonts-ipafont-gothic)", nullptr, Verdict::Ok, "font for Japanese texts: IPA", ""},
    };
    for (const Case& c : cases) {
        if (c.fontconfigFile != nullptr) ::setenv("FONTCONFIG_FILE", c.fontconfigFile, 1);
        vosdoctor::DoctorInputs inputs;
        inputs.driver = VOS_SIM_LIBRARY;
        inputs.simulator = true;
        const std::vector<Finding> report = vosdoctor::RunDoctor(inputs);
        ::unsetenv("FONTCONFIG_FILE");
        ASSERT_GE(report.size(), 2u) << c.title;
        EXPECT_EQ(report[1].verdict, c.verdict) << c.title;
        EXPECT_EQ(report[1].text.rfind(c.textStart, 0), 0u) << c.title << ": " << report[1].text;
        EXPECT_EQ(report[1].fix, c.fix) << c.title;
    }
    std::filesystem::remove_all(dir);
}

TEST_F(DoctorOnFakeUsb, NamesEveryFtdiDeviceAndWhetherItIsALogger) {
    FakeUsb usb;
    vosdoctor::Identity who = Tester();
    who.groups.push_back(usb.Add(LOGGER));
    usb.Add(FOREIGN);
    usb.InstallRules();
    std::vector<std::string> lines;
    for (const Finding& f : vosdoctor::RunDoctor(Inputs(usb, who))) lines.push_back(vosdoctor::FormatFinding(f));
    const std::string canonicalSim = std::filesystem::canonical(VOS_SIM_LIBRARY).string();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("OK    font for Japanese texts: ", 0), 0u) << lines[1];
    lines.erase(lines.begin() + 1);
    const std::vector<std::string> expected = {
        "OK    D2XX library " + canonicalSim + " loads",
        "OK    FTDI USB device 1-1: \"VOS-XX\", serial 16001 (a logger)",
        "OK    FTDI USB device 1-3: \"FT232R USB UART\", serial A50285BI (not a logger; keeps its driver)",
        "OK    ftdi_sio holds no interface of logger 16001",
    };
    ASSERT_GE(lines.size(), expected.size() + 3);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]);
    EXPECT_EQ(lines[4].rfind("OK    logger 16001: user tester can read and write /dev/bus/usb/001/005 (", 0), 0u)
        << lines[4];
    EXPECT_EQ(lines[5], "OK    udev rules " + usb.RulesDir() + "/60-vosviewer.rules installed");
    EXPECT_EQ(lines[6], "OK    the driver lists logger 16001, 12001");
}

TEST_F(DoctorOnFakeUsb, WithoutADriverSaysSoAndSkipsTheDriverList) {
    FakeUsb usb;
    vosdoctor::Identity who = Tester();
    who.groups.push_back(usb.Add(LOGGER));
    usb.InstallRules();
    vosdoctor::DoctorInputs inputs = Inputs(usb, who);
    inputs.driver = "libvos-no-such-driver.so";
    const std::vector<Finding> report = vosdoctor::RunDoctor(inputs);
    ASSERT_GE(report.size(), 2u);
    EXPECT_EQ(report.front().verdict, Verdict::Problem);
    EXPECT_EQ(report.front().text.rfind("D2XX library libvos-no-such-driver.so not found: "
                                        "VOS-12/VOS-16がインストールできていません (",
                                        0),
              0u)
        << report.front().text;
    EXPECT_EQ(report.back().verdict, Verdict::Skipped);
    EXPECT_TRUE(vosdoctor::BlocksUse(report));
}

}  // namespace
