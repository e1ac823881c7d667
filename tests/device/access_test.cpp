#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>

#include "device/access.h"
#include "sim/sim.h"
#include "tests/device/sim_fixture.h"

namespace {

const char* const FOUND_NOTHING = "デバイスが見つかりません";
const char* const CANNOT_OPEN = "デバイスをオープンできません";
const char* const OTHER_ERROR = "その他のエラーが発生しました";
const char* const COMMUNICATION = "通信エラーが発生しました";

TEST(ResultMessage, TextForEveryCode) {
    struct Case {
        std::uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {0, "正常終了しました"}, {1, OTHER_ERROR}, {2, FOUND_NOTHING}, {3, CANNOT_OPEN}, {4, OTHER_ERROR},
        {17, OTHER_ERROR}, {18, OTHER_ERROR}, {19, "パラメータが無効です"}, {20, OTHER_ERROR},
        {21, COMMUNICATION}, {22, OTHER_ERROR}, {0xFFFFFFFFu, OTHER_ERROR},
    };
    for (const Case& test : cases) EXPECT_EQ(ResultMessage(test.code), test.text) << test.code;
}

TEST(SerialTextToLong, BehavesLikeA32BitStrtol) {
    struct Case {
        const char* text;
        std::int32_t value;
    };
    const Case cases[] = {
        {"123", 123}, {"00123", 123}, {"  -45x", -45}, {"+7", 7}, {"\t\n\v\f\r 12", 12}, {"abc", 0}, {"", 0},
        {"- 5", 0}, {"+-5", 0}, {"12 34", 12}, {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN}, {"-2147483649", INT32_MIN}, {"99999999999999999999999999", INT32_MAX},
        {"-99999999999999999999999999", INT32_MIN}, {"000000000000000000000042", 42}, {nullptr, 0},
    };
    for (const Case& test : cases) EXPECT_EQ(SerialTextToLong(test.text), test.value) << (test.text ? test.text : "null");
}

vossim::SimDevice Device(const std::string& serial, const std::string& description = LOGGER_DESCRIPTION) {
    vossim::SimDevice device = vossim::MakeLogger(serial, 2);
    device.description = description;
    return device;
}

TEST(SearchLoggers, ListsAndRejectsAsTheBusSays) {
    struct Case {
        const char* name;
        std::vector<vossim::SimDevice> devices;
        bool ok;
        const char* message;
        std::vector<std::int32_t> serials;
    };
    std::vector<vossim::SimDevice> many;
    for (int i = 0; i < 130; ++i) many.push_back(Device(std::to_string(1000 + i)));
    std::vector<std::int32_t> first127;
    for (int i = 0; i < 127; ++i) first127.push_back(1000 + i);
    vossim::SimDevice noDescription = Device("55");
    noDescription.Fault(vossim::Call::ListDescription).status = FT_IO_ERROR;
    vossim::SimDevice noSerial = Device("56");
    noSerial.Fault(vossim::Call::ListSerial).status = FT_IO_ERROR;

    const Case cases[] = {
        {"two loggers in index order", {Device("500"), Device("42")}, true, "", {500, 42}},
        {"nothing attached", {}, true, "", {}},
        {"foreign device alone", {Device("77", "FT232R USB UART")}, true, "", {}},
        {"foreign device between", {Device("1"), Device("2", "VOS-XY"), Device("3")}, true, "", {1, 3}},
        {"description compared case-sensitively", {Device("9", "vos-xx")}, true, "", {}},
        {"leading zeros", {Device("00123")}, true, "", {123}},
        {"sixteen characters fit", {Device("0000000000012345")}, true, "", {12345}},
        {"negative serial", {Device("-5")}, true, "", {-5}},
        {"serial without digits", {Device("11"), Device("abc"), Device("12")}, false, FOUND_NOTHING, {11}},
        {"serial zero", {Device("0")}, false, FOUND_NOTHING, {}},
        {"beyond 32 bits", {Device("7"), Device("99999999999")}, false, FOUND_NOTHING, {7}},
        {"at the lower limit", {Device("-2147483648")}, false, FOUND_NOTHING, {}},
        {"too long for a slot", {Device("8"), Device("00000000000000000123")}, false, FOUND_NOTHING, {8}},
        {"more than 127", many, true, "", first127},
        {"per-index failures skip the device", {Device("1"), noDescription, noSerial, Device("2")}, true, "", {1, 2}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        vossim::SimConfig config;
        config.devices = test.devices;
        vossim::Install(config);
        const SearchOutcome outcome = SearchLoggers(vossim::Api());
        EXPECT_EQ(outcome.ok, test.ok);
        EXPECT_EQ(outcome.message, test.message);
        EXPECT_EQ(outcome.serials, test.serials);
        EXPECT_EQ(outcome.selectLast, test.ok && !test.serials.empty());
    }
}

TEST(SearchLoggers, CountQueryFailureReportsItsMessage) {
    vossim::SimConfig config = vossim::DefaultConfig();
    config.listStatus = FT_OTHER_ERROR;
    vossim::Install(config);
    const SearchOutcome outcome = SearchLoggers(vossim::Api());
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, OTHER_ERROR);
    EXPECT_TRUE(outcome.serials.empty());
}

TEST(DeviceList, LongSerialNeverWritesPastItsSlot) {
    vossim::SimConfig config;
    config.devices = {Device(std::string(60, '7')), Device("31")};
    vossim::Install(config);
    constexpr std::size_t GUARD = 32;
    std::vector<char> memory(2 * (SERIAL_SLOT_SIZE + GUARD), '\x5A');
    char* slots[] = {memory.data(), memory.data() + SERIAL_SLOT_SIZE + GUARD, nullptr};
    std::uint32_t count = 99;
    ASSERT_EQ(DeviceList(vossim::Api(), slots, &count), 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(slots[0], "");
    EXPECT_STREQ(slots[1], "31");
    for (char* slot : {slots[0], slots[1]}) {
        for (std::size_t i = SERIAL_SLOT_SIZE; i < SERIAL_SLOT_SIZE + GUARD; ++i) ASSERT_EQ(slot[i], '\x5A') << i;
    }
}

TEST(DeviceList, StopsWhenTheSlotTableIsFull) {
    vossim::SimConfig config;
    config.devices = {Device("1"), Device("2"), Device("3")};
    vossim::Install(config);
    char a[SERIAL_SLOT_SIZE], b[SERIAL_SLOT_SIZE];
    char* slots[] = {a, b, nullptr};
    std::uint32_t count = 0;
    ASSERT_EQ(DeviceList(vossim::Api(), slots, &count), 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(a, "1");
    EXPECT_STREQ(b, "2");
    EXPECT_EQ(DeviceList(vossim::Api(), nullptr, &count), RESULT_INVALID_PARAMETER);
}

// Opening and reading the calibration, with one driver call failing at a time.
TEST(DeviceOpen, FaultMatrix) {
    using vossim::Call;
    struct Case {
        const char* name;
        std::function<void(vossim::SimDevice&)> fault;
        const char* serial;
        std::uint32_t openResult;
        std::uint32_t calibrationResult;
        const char* message;
    };
    const Case cases[] = {
        {"by serial", [](auto&) {}, "4711", 0, 0, "正常終了しました"},
        {"by description", [](auto&) {}, nullptr, 0, 0, "正常終了しました"},
        {"unknown serial", [](auto&) {}, "123", FT_DEVICE_NOT_FOUND, 0, FOUND_NOTHING},
        {"open refused", [](auto& d) { d.Fault(Call::Open).status = FT_DEVICE_NOT_OPENED; }, "4711",
         FT_DEVICE_NOT_OPENED, 0, CANNOT_OPEN},
        {"reset fails", [](auto& d) { d.Fault(Call::Reset).status = FT_IO_ERROR; }, "4711", FT_IO_ERROR, 0, OTHER_ERROR},
        {"baud fails", [](auto& d) { d.Fault(Call::Baud).status = FT_INVALID_BAUD_RATE; }, nullptr,
         FT_INVALID_BAUD_RATE, 0, OTHER_ERROR},
        {"purge fails", [](auto& d) { d.Fault(Call::Purge).status = FT_OTHER_ERROR; }, "4711", FT_OTHER_ERROR, 0,
         OTHER_ERROR},
        {"timeouts fail", [](auto& d) { d.Fault(Call::Timeouts).status = FT_DEVICE_NOT_FOUND; }, "4711",
         FT_DEVICE_NOT_FOUND, 0, FOUND_NOTHING},
        {"eeprom fails", [](auto& d) { d.Fault(Call::EepromRead).status = FT_EEPROM_READ_FAILED; }, "4711", 0,
         FT_EEPROM_READ_FAILED, OTHER_ERROR},
        {"eeprom short", [](auto& d) { d.eepromCount = 53; }, "4711", 0, RESULT_CALIBRATION_SIZE, OTHER_ERROR},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        vossim::SimDevice device = vossim::MakeLogger("4711", 0);
        test.fault(device);
        simtest::InstallOne(device);
        const D2xxApi& api = vossim::Api();
        FT_HANDLE handle = nullptr;
        const std::uint32_t opened = DeviceOpen(api, test.serial, &handle);
        EXPECT_EQ(opened, test.openResult);
        if (opened != 0) {
            EXPECT_EQ(handle, nullptr);
            EXPECT_EQ(ResultMessage(opened), test.message);
            EXPECT_EQ(vossim::OpenHandleCount(), 0u);
            continue;
        }
        const auto events = vossim::Stats(0).events;
        const std::vector<std::string> configured = {"open", "reset", "baud 3000000", "purge 3", "timeouts 500 500"};
        EXPECT_EQ(events, configured);
        std::uint8_t block[CALIBRATION_BLOCK_SIZE] = {};
        const std::uint32_t calibrated = DeviceReadCalibration(api, handle, block);
        EXPECT_EQ(calibrated, test.calibrationResult);
        EXPECT_EQ(ResultMessage(calibrated), test.message);
        if (calibrated == 0) {
            EXPECT_EQ(0, std::memcmp(block, device.calibration.data(), CALIBRATION_BLOCK_SIZE));
        }
        EXPECT_EQ(DeviceClose(api, handle), 0u);
        EXPECT_EQ(vossim::OpenHandleCount(), 0u);
    }
}

TEST(DeviceOpen, FailedConfigurationClosesTheDevice) {
    vossim::SimDevice device = vossim::MakeLogger("4711", 2);
    device.Fault(vossim::Call::Baud).status = FT_IO_ERROR;
    simtest::InstallOne(device);
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(DeviceOpen(vossim::Api(), "4711", &handle), FT_IO_ERROR);
    const std::vector<std::string> events = {"open", "reset", "baud 3000000", "close"};
    EXPECT_EQ(vossim::Stats(0).events, events);
}

TEST(DeviceClose, ReportsTheDriverStatus) {
    vossim::SimDevice device = vossim::MakeLogger("4711", 2);
    device.Fault(vossim::Call::Close) = {FT_IO_ERROR, false, 0, 1};
    simtest::InstallOne(device);
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(DeviceOpen(vossim::Api(), nullptr, &handle), 0u);
    EXPECT_EQ(DeviceClose(vossim::Api(), handle), FT_IO_ERROR);
    EXPECT_EQ(DeviceClose(vossim::Api(), handle), 0u);
    EXPECT_EQ(DeviceClose(vossim::Api(), handle), FT_INVALID_HANDLE);
}

TEST(DeviceExchange, PhasesAndTheirFailures) {
    using vossim::Call;
    const std::uint8_t byte = 0x00;
    std::uint8_t in[8] = {};
    struct Case {
        const char* name;
        std::function<void(vossim::SimDevice&)> fault;
        const void* write;
        std::uint32_t writeLength;
        void* read;
        std::uint32_t readLength;
        std::uint32_t result;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"neither buffer", [](auto&) {}, nullptr, 1, nullptr, 8, RESULT_INVALID_PARAMETER, {}},
        {"both lengths zero", [](auto&) {}, &byte, 0, in, 0, RESULT_INVALID_PARAMETER, {}},
        {"one byte, no read", [](auto&) {}, &byte, 1, nullptr, 0, 0, {"write 00"}},
        {"write fails", [](auto& d) { d.Fault(Call::Write).status = FT_IO_ERROR; }, &byte, 1, in, 8, FT_IO_ERROR, {}},
        {"write short", [](auto& d) { d.Fault(Call::Write).shortTransfer = true; }, &byte, 1, in, 8,
         RESULT_COMMUNICATION, {}},
        {"read fails", [](auto& d) { d.Fault(Call::Read).status = FT_IO_ERROR; }, nullptr, 0, in, 8, FT_IO_ERROR, {}},
        {"nothing to read times out", [](auto&) {}, nullptr, 0, in, 8, RESULT_COMMUNICATION, {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        vossim::SimDevice device = simtest::ScriptedLogger(0, true);
        test.fault(device);
        simtest::InstallOne(device);
        const D2xxApi& api = vossim::Api();
        FT_HANDLE handle = nullptr;
        ASSERT_EQ(DeviceOpen(api, nullptr, &handle), 0u);
        ASSERT_EQ(api.FT_SetTimeouts(handle, 20, 20), 0u);  // keeps the time-out case short
        const std::size_t before = vossim::Stats(0).events.size();
        EXPECT_EQ(DeviceExchange(api, handle, test.write, test.writeLength, test.read, test.readLength), test.result);
        const auto events = vossim::Stats(0).events;
        EXPECT_EQ(std::vector<std::string>(events.begin() + static_cast<std::ptrdiff_t>(before), events.end()),
                  test.events);
        DeviceClose(api, handle);
    }
}

}  // namespace
