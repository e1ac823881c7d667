#include "cli/cli.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/options.h"
#include "cli/output.h"
#include "device/access.h"

namespace vosctl {

std::string ExitStatusHelp() {
    return "Exit status:\n"
           "  0    success\n"
           "  1    doctor found a problem that blocks use\n"
           "  2    bad command line or option value\n"
           "  3    driver, logger or communication failure\n"
           "  4    a file could not be opened, read or written, or has a bad format;\n"
           "       files that do not form one record\n"
           "  5    record: the writer fell behind the logger\n"
           "  129  ended by SIGHUP (the terminal or SSH session hung up)\n"
           "  130  ended by SIGINT (Ctrl-C)\n"
           "  141  standard output's reader went away (a closed pipe, as | head closes it):\n"
           "       the command ends there without a message, as if ended by SIGPIPE\n"
           "  143  ended by SIGTERM";
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

int Context::ChooseLogger(const std::string& serialText, std::optional<std::int32_t>& serial) {
    const D2xxApi* api = LoadDriver();
    if (api == nullptr) {
        return EXIT_DEVICE;
    }
    std::int32_t number = 0;
    if (!serialText.empty()) {
        ParseSerial(serialText, number);
    } else if (const std::uint32_t result = DefaultLoggerSerial(*api, number); result != RESULT_OK) {
        return FailDevice(result);
    }
    serial = number;
    return EXIT_OK;
}

int Fail(int status, const std::string& text, const std::string& gloss) {
    std::fprintf(stderr, "vosctl: %s (%s)\n", text.c_str(), gloss.c_str());
    std::fflush(stderr);
    return status;
}

int FailDevice(std::uint32_t code) { return Fail(EXIT_DEVICE, ResultMessage(code), ResultGloss(code)); }

int FailFile(FileError error, const std::string& path) { return FailFileCause(error, path, errno); }

int FailFileCause(FileError error, const std::string& path, int cause) {
    if (error == FileError::Write && cause == EPIPE && path == "-") {
        return EXIT_PIPE;
    }
    return Fail(EXIT_FILE, FileErrorMessage(error), path + ": " + FileErrorGloss(error, path, cause));
}

std::string CountText(std::uint64_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
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

namespace {

// "the folder F does not exist" or "... was removed" when the folder of
// `path` is gone; empty while it is there.
std::string FolderGone(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::string folder = parent.empty() ? std::string(".") : parent.string();
    const std::string name = parent.empty() ? std::string("the current folder") : "the folder " + folder;
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return name + " does not exist";
    }
    return info.st_nlink == 0 ? name + " was removed" : std::string();
}

}  // namespace

std::string CauseGloss(int cause, const std::string& path) {
    switch (cause) {
    case ENOENT: {
        const std::string gone = FolderGone(path);
        return gone.empty() ? "no such file" : gone;
    }
    case EACCES:
    case EPERM: return "permission denied";
    case EROFS: return "the file system is read-only";
    case ENAMETOOLONG: return "the name is too long";
    case EISDIR: return "it is a folder";
    case ENOTDIR: return "a part of the path is not a folder";
    case ENODEV: return "not a regular file";
    case ENXIO: return "a pipe or device without a reader";
    case ELOOP: return "too many symbolic links";
    case EWOULDBLOCK: return "another program uses it";
    case ENOSPC: return "no space left on the device";
    case EDQUOT: return "the disk quota is used up";
    case EFBIG: return "the file is larger than allowed";
    case EPIPE: return "the reader of the output has gone";
    case EBADF: return StandardOutputWasClosed() ? "it is closed" : "it is not open for writing";
    default: return std::strerror(cause);
    }
}

namespace {

// "<what>: <cause>", or `otherwise` when neither errno nor the path tells.
std::string Explained(const std::string& what, const std::string& path, int cause, const std::string& otherwise) {
    if (cause != 0) {
        return what + ": " + CauseGloss(cause, path);
    }
    const std::string gone = path.empty() ? std::string() : FolderGone(path);
    return gone.empty() ? otherwise : what + ": " + gone;
}

}  // namespace

std::string FileErrorGloss(FileError error, const std::string& path, int cause) {
    switch (error) {
    case FileError::None: return "no error";
    case FileError::Open:
        return Explained("cannot open the file", path, cause, "cannot open the file, or another program uses it");
    case FileError::Format: return "not a valid data file";
    case FileError::Read: return "cannot read the file";
    case FileError::Write: return Explained("cannot write the file", path, cause, "cannot write the file");
    }
    return "file error";
}

}  // namespace vosctl
