#pragma once
// The exceptions the module raises: vosviewer.errors' classes, each with the
// program's own message and an English gloss.
#include <cstdint>
#include <stdexcept>
#include <string>

#include <pybind11/pybind11.h>

#include "files/file.h"

namespace vospy {

/// Which vosviewer.errors class a failure is raised as.
enum class ErrorKind { File, Device, Usage };

/// A failure on its way to Python.
struct VosError : std::runtime_error {
    VosError(ErrorKind kind, std::string message, std::string gloss, std::string path = {}, int cause = 0)
        : std::runtime_error(message + " (" + gloss + ")"), kind(kind), message(std::move(message)),
          gloss(std::move(gloss)), path(std::move(path)), cause(cause) {}
    ErrorKind kind;
    std::string message;
    std::string gloss;
    std::string path;  ///< the file concerned, for VosFileError's filename ("" when none)
    int cause;         ///< errno of the failure, for VosFileError's errno (0 when none)
};

/// A file error on `path` with its message and the gloss vosctl gives it
/// (the cause from `cause`, an errno value, 0 when unknown).
[[noreturn]] void ThrowFile(FileError error, const std::string& path, int cause);
/// A device link result code with its message and gloss.
[[noreturn]] void ThrowDevice(std::uint32_t code);
/// An argument refused, as vosctl refuses it: its message with `gloss`.
[[noreturn]] void ThrowUsage(const std::string& gloss);

/// Text of the program's (UTF-8, but a file name may be any bytes) as a str
/// that can always be printed.
pybind11::str Text(const std::string& text);
/// A file name as Python's os.fsdecode gives it.
pybind11::str FileName(const std::string& path);

/// Raises VosError as the vosviewer.errors class of its kind.
void RegisterErrors(pybind11::module_& module);

}  // namespace vospy
