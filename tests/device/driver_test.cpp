#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "device/access.h"
#include "device/driver.h"
#include "device/transfer.h"

namespace {

const std::string SIM_LIBRARY = std::string(VOS_SIM_LIBRARY_DIR) + "/libftd2xx.so";

TEST(DriverLibrary, ProbesByName) {
    EXPECT_TRUE(ProbeDriverLibrary(SIM_LIBRARY.c_str()));
    EXPECT_FALSE(ProbeDriverLibrary("libvos-no-such-driver.so"));
}

TEST(DriverLibrary, RefusesLibrariesWithoutTheDriverFunctions) {
    DriverLibrary library;
    EXPECT_FALSE(library.Load("libvos-no-such-driver.so"));
    EXPECT_EQ(library.Api(), nullptr);
    EXPECT_FALSE(library.Error().empty());
    EXPECT_FALSE(library.Load("libm.so.6"));
    EXPECT_EQ(library.Api(), nullptr);
    EXPECT_NE(library.Error().find("FT_ListDevices"), std::string::npos) << library.Error();
    EXPECT_FALSE(library.Load(nullptr));
}

// The simulated driver loaded as the application loads FTDI's: default bus,
// realtime pace.
TEST(DriverLibrary, LoadsTheSimulatedDriverAndListsItsLoggers) {
    ::unsetenv("VOS_SIM_CONFIG");
    DriverLibrary library;
    ASSERT_TRUE(library.Load(SIM_LIBRARY.c_str())) << library.Error();
    ASSERT_NE(library.Api(), nullptr);
    EXPECT_TRUE(library.Error().empty());
    const D2xxApi& api = *library.Api();

    const SearchOutcome search = SearchLoggers(api);
    EXPECT_TRUE(search.ok);
    EXPECT_EQ(search.serials, (std::vector<std::int32_t>{16001, 12001}));
    EXPECT_TRUE(search.selectLast);

    FT_HANDLE handle = nullptr;
    ASSERT_EQ(DeviceOpen(api, "12001", &handle), 0u);
    std::uint8_t calibration[CALIBRATION_BLOCK_SIZE];
    ASSERT_EQ(DeviceReadCalibration(api, handle, calibration), 0u);
    EXPECT_EQ(calibration[CALIBRATION_RESOLUTION_OFFSET], RESOLUTION_12_BIT);
    std::vector<double> channels[4];
    double* destinations[4];
    for (int c = 0; c < 4; ++c) {
        channels[c].assign(20, -1.0);
        destinations[c] = channels[c].data();
    }
    std::atomic<std::uint32_t> stored{0};
    const std::uint32_t result =
        AcquireFrames(api, handle, destinations, 1, 20, &stored, calibration, TriggerSetup{}, nullptr);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(stored.load(), 20u);
    for (int c = 0; c < 4; ++c) {
        for (double v : channels[c]) {
            EXPECT_GE(v, 0.0);
            EXPECT_LE(v, 10.0);
        }
    }
    EXPECT_EQ(DeviceClose(api, handle), 0u);

    using Overruns = std::uint64_t (*)(unsigned);
    void* module = dlopen(SIM_LIBRARY.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr);
    auto overruns = reinterpret_cast<Overruns>(dlsym(module, "VosSim_OverrunCount"));
    ASSERT_NE(overruns, nullptr);
    EXPECT_EQ(overruns(1), 0u);
    EXPECT_EQ(overruns(99), 0u);
    dlclose(module);
}

}  // namespace
