#include "errors.h"

#include "cli/cli.h"
#include "device/access.h"

namespace py = pybind11;

namespace vospy {

void ThrowFile(FileError error, const std::string& path, int cause) {
    throw VosError(ErrorKind::File, FileErrorMessage(error), path + ": " + vosctl::FileErrorGloss(error, path, cause));
}

void ThrowDevice(std::uint32_t code) {
    throw VosError(ErrorKind::Device, ResultMessage(code), vosctl::ResultGloss(code));
}

void RegisterErrors(py::module_& module) {
    (void)module;
    py::register_exception_translator([](std::exception_ptr pointer) {
        try {
            if (pointer) std::rethrow_exception(pointer);
        } catch (const VosError& error) {
            static const char* const names[] = {"VosFileError", "VosDeviceError", "VosUsageError"};
            const py::object errors = py::module_::import("vosviewer.errors");
            const py::object type = errors.attr(names[static_cast<int>(error.kind)]);
            const py::object instance = type(error.message, error.gloss);
            PyErr_SetObject(type.ptr(), instance.ptr());
        }
    });
}

}  // namespace vospy
