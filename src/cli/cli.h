#pragma once

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>

#include "device/d2xx.h"
#include "device/driver.h"
#include "files/file.h"

/// Front-end helpers shared by the vosctl subcommands.
namespace vosctl {

/// Exit statuses of vosctl, each with one meaning.
inline constexpr int EXIT_OK = 0;
/// doctor found a problem that blocks use.
inline constexpr int EXIT_PROBLEM = 1;
/// Bad command line or option value.
inline constexpr int EXIT_USAGE = 2;
/// Driver, logger or communication failure.
inline constexpr int EXIT_DEVICE = 3;
/// A file could not be opened, read or written, or has a bad format.
inline constexpr int EXIT_FILE = 4;
/// record: the writer fell behind the logger.
inline constexpr int EXIT_OVERRUN = 5;
/// A signal ended the run: this plus the signal number (129 for SIGHUP, 130 for SIGINT, 143 for SIGTERM).
inline constexpr int EXIT_SIGNAL_BASE = 128;
/// The reader of standard output went away (a closed pipe, as `| head` closes
/// it): the command ends quietly with the status SIGPIPE would give, 141.
inline constexpr int EXIT_PIPE = EXIT_SIGNAL_BASE + SIGPIPE;

/// The exit statuses as the help text lists them.
std::string ExitStatusHelp();

/// The global options and what the subcommands share.
struct Context {
    /// --driver: the D2XX library to load; empty for libftd2xx.so through
    /// the library search path.
    std::string driverPath;
    /// The exit status the subcommand that ran has set.
    int status = EXIT_OK;

    /// Loads the driver on first use. Null, with the failure printed, when
    /// the library or one of its functions cannot be had.
    const D2xxApi* LoadDriver();
    /// The logger a command runs on: the serial number `serialText` names, or
    /// else the one Search selects (DefaultLoggerSerial). Loads the driver;
    /// EXIT_OK, or the failure printed and EXIT_DEVICE.
    int ChooseLogger(const std::string& serialText, std::optional<std::int32_t>& serial);
    /// The library LoadDriver loads: driverPath, or libftd2xx.so.
    const char* DriverName() const { return driverPath.empty() ? D2XX_LIBRARY_NAME : driverPath.c_str(); }

private:
    DriverLibrary m_library;
};

/// Prints "vosctl: <text> (<gloss>)" on standard error and returns `status`.
int Fail(int status, const std::string& text, const std::string& gloss);

/// Fail with the device link's message for `code` and its English gloss.
int FailDevice(std::uint32_t code);

/// Fail with the file message for `error`, naming `path` and, for Open and
/// Write, the cause from errno in the gloss. Call it directly after the
/// call that failed, before errno can change.
int FailFile(FileError error, const std::string& path);

/// FailFile with the errno value `cause` (0 when unknown). A write to
/// standard output ("-") whose reader has gone (EPIPE) prints nothing and
/// returns EXIT_PIPE.
int FailFileCause(FileError error, const std::string& path, int cause);

/// "1 file", "2 files": `count` and the noun, plural but for 1.
std::string CountText(std::uint64_t count, const std::string& noun);

/// English gloss of a device link result code.
std::string ResultGloss(std::uint32_t code);

/// English gloss of a device link message text, as the acquisition reports it.
std::string MessageGloss(const std::string& text);

/// The cause of a failed open, create, write or rename of `path`, from its
/// errno `cause`: "permission denied", "the folder F does not exist".
std::string CauseGloss(int cause, const std::string& path);

/// English gloss of a file error on `path`. For Open and Write it names the
/// cause: from the errno value `cause` when known (not 0), else a missing
/// or removed folder when that is what `path` shows.
std::string FileErrorGloss(FileError error, const std::string& path = {}, int cause = 0);

}  // namespace vosctl
