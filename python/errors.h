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
    VosError(ErrorKind kind, std::string message, std::string gloss)
        : std::runtime_error(message + " (" + gloss + ")"), kind(kind), message(std::move(message)),
          gloss(std::move(gloss)) {}
    ErrorKind kind;
    std::string message;
    std::string gloss;
};

/// A file error on `path` with its message and the gloss vosctl gives it
/// (the cause from `cause`, an errno value, 0 when unknown).
[[noreturn]] void ThrowFile(FileError error, const std::string& path, int cause);
/// A device link result code with its message and gloss.
[[noreturn]] void ThrowDevice(std::uint32_t code);

/// Raises VosError as the vosviewer.errors class of its kind.
void RegisterErrors(pybind11::module_& module);

}  // namespace vospy
