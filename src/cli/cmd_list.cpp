// vosctl list: the loggers Search would list.
#include <cstdio>
#include <memory>
#include <string>

#include "acquisition/run.h"
#include "cli/commands.h"
#include "cli/files_check.h"
#include "cli/output.h"
#include "device/access.h"
#include "device/transfer.h"
#include "numtext/fixed.h"

namespace {

std::string ResolutionText(std::uint8_t code) {
    switch (code) {
    case RESOLUTION_12_BIT: return "12-bit";
    case RESOLUTION_16_BIT: return "16-bit";
    default: return "resolution code " + std::to_string(code);
    }
}

std::string CodesText(const std::uint16_t (&codes)[4]) {
    return std::to_string(codes[0]) + "," + std::to_string(codes[1]) + "," + std::to_string(codes[2]) + "," +
           std::to_string(codes[3]);
}

// Opens the logger just long enough to read its calibration block.
int PrintDetails(const D2xxApi& api, std::int32_t serial) {
    const std::string serialText = std::to_string(serial);
    FT_HANDLE handle = nullptr;
    std::uint8_t block[CALIBRATION_BLOCK_SIZE] = {};
    const std::uint32_t result = OpenCalibratedLogger(api, serial, handle, block);
    if (result == RESULT_OK) {
        DeviceClose(api, handle);
    }
    if (result != RESULT_OK) {
        std::printf("%s\n", serialText.c_str());
        vosctl::FlushStandardOutput();
        return vosctl::Fail(vosctl::EXIT_DEVICE, ResultMessage(result),
                            "logger " + serialText + ": " + vosctl::ResultGloss(result));
    }
    const CalibrationPoints points = ReadCalibrationPoints(block);
    std::printf("%s  %s  V1=%s V C1=%s  V2=%s V C2=%s\n", serialText.c_str(), ResolutionText(points.resolution).c_str(),
                FormatFixed5(points.v1).c_str(), CodesText(points.c1).c_str(), FormatFixed5(points.v2).c_str(),
                CodesText(points.c2).c_str());
    return vosctl::EXIT_OK;
}

int RunList(vosctl::Context& context, bool details) {
    if (const int status = vosctl::RefuseInputAsOutput("-", {}); status != vosctl::EXIT_OK) {
        return status;
    }
    const D2xxApi* api = context.LoadDriver();
    if (api == nullptr) {
        return vosctl::EXIT_DEVICE;
    }
    const SearchOutcome outcome = SearchLoggers(*api);
    int status = vosctl::EXIT_OK;
    for (const std::int32_t serial : outcome.serials) {
        if (!details) {
            std::printf("%d\n", serial);
        } else if (PrintDetails(*api, serial) != vosctl::EXIT_OK) {
            status = vosctl::EXIT_DEVICE;
        }
    }
    vosctl::FlushStandardOutput();
    if (!outcome.ok) {
        return vosctl::Fail(vosctl::EXIT_DEVICE, outcome.message, "the logger list could not be read");
    }
    if (outcome.serials.empty()) {
        return vosctl::FailDevice(FT_DEVICE_NOT_FOUND);
    }
    return status;
}

}  // namespace

void AddListCommand(CLI::App& app, vosctl::Context& context) {
    auto details = std::make_shared<bool>(false);
    CLI::App* command = app.add_subcommand("list", "List the attached loggers by serial number, in Search's order");
    command->add_flag("--details", *details,
                      "Open each logger briefly and add its resolution and calibration points "
                      "(volts V1 and V2, and the codes C1 and C2 of CH0..CH3 measured at them)");
    command->footer("With no logger attached, list prints nothing and ends with status 3.\n\n" +
                    vosctl::ExitStatusHelp());
    command->callback([&context, details] { context.status = RunList(context, *details); });
}
