#include "cli/cli.h"

#include <cstdio>

#include "device/access.h"

namespace vosctl {

std::string ExitStatusHelp() {
    return "Exit status:\n"
           "  0    success\n"
           "  1    doctor found a problem that blocks use\n"
           "  2    bad command line or option value\n"
           "  3    driver, logger or communication failure\n"
           "  4    a file could not be opened, read or written, or has a bad format\n"
           "  5    record: the writer fell behind the logger\n"
           "  130  interrupted by SIGINT (143 for SIGTERM)";
}

const D2xxApi* Context::LoadDriver() {
    if (m_library.Api() != nullptr) {
        return m_library.Api();
    }
    const char* name = DriverName();
    if (!m_library.Load(name)) {
        Fail(EXIT_DEVICE, DRIVER_MISSING_TEXT, "the D2XX driver could not be loaded: " + m_library.Error());
        return nullptr;
    }
    return m_library.Api();
}

int Fail(int status, const std::string& text, const std::string& gloss) {
    std::fprintf(stderr, "vosctl: %s (%s)\n", text.c_str(), gloss.c_str());
    std::fflush(stderr);
    return status;
}

int FailDevice(std::uint32_t code) { return Fail(EXIT_DEVICE, ResultMessage(code), ResultGloss(code)); }

int FailFile(FileError error, const std::string& path) {
    return Fail(EXIT_FILE, FileErrorMessage(error), path + ": " + FileErrorGloss(error));
}

std::string ResultGloss(std::uint32_t code) {
    switch (code) {
    case RESULT_OK: return "success";
    case FT_DEVICE_NOT_FOUND: return "no logger found";
    case FT_DEVICE_NOT_OPENED: return "the logger could not be opened";
    case RESULT_INVALID_PARAMETER: return "invalid parameter";
    case RESULT_COMMUNICATION: return "communication with the logger failed";
    default: return "driver or logger error " + std::to_string(code);
    }
}

std::string MessageGloss(const std::string& text) {
    for (const std::uint32_t code : {FT_DEVICE_NOT_FOUND, FT_DEVICE_NOT_OPENED, RESULT_INVALID_PARAMETER, RESULT_COMMUNICATION}) {
        if (text == ResultMessage(code)) {
            return ResultGloss(code);
        }
    }
    return "another driver or logger error";
}

std::string FileErrorGloss(FileError error) {
    switch (error) {
    case FileError::None: return "no error";
    case FileError::Open: return "cannot open the file, or another program uses it";
    case FileError::Format: return "not a valid data file";
    case FileError::Read: return "cannot read the file";
    case FileError::Write: return "cannot write the file";
    }
    return "file error";
}

}  // namespace vosctl
