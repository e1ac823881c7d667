#include "errors.h"

#include "cli/cli.h"
#include "device/access.h"

namespace py = pybind11;

namespace vospy {

void ThrowFile(FileError error, const std::string& path, int cause) {
    // A format error has no errno of its own: whatever errno held is not its cause.
    const int errnoValue = error == FileError::Format ? 0 : cause;
    throw VosError(ErrorKind::File, FileErrorMessage(error), path + ": " + vosctl::FileErrorGloss(error, path, cause),
                   path, errnoValue);
}

void ThrowDevice(std::uint32_t code) {
    throw VosError(ErrorKind::Device, ResultMessage(code), vosctl::ResultGloss(code));
}

void ThrowUsage(const std::string& gloss) {
    throw VosError(ErrorKind::Usage, ResultMessage(RESULT_INVALID_PARAMETER), gloss);
}

py::str Text(const std::string& text) {
    PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
    if (decoded == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

py::str FileName(const std::string& path) {
    PyObject* decoded = PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
    if (decoded == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

void RegisterErrors(py::module_& module) {
    (void)module;
    py::register_exception_translator([](std::exception_ptr pointer) {
        try {
            if (pointer) std::rethrow_exception(pointer);
        } catch (const VosError& error) {
            const py::object errors = py::module_::import("vosviewer.errors");
            py::object instance;
            switch (error.kind) {
            case ErrorKind::File:
                // The class follows errno, as OSError's own subclasses do.
                instance = errors.attr("_file_error")(
                    Text(error.message), Text(error.gloss), error.cause != 0 ? py::object(py::int_(error.cause)) : py::none(),
                    error.path.empty() ? py::object(py::none()) : py::object(FileName(error.path)));
                break;
            case ErrorKind::Device: instance = errors.attr("VosDeviceError")(Text(error.message), Text(error.gloss)); break;
            case ErrorKind::Usage: instance = errors.attr("VosUsageError")(Text(error.message), Text(error.gloss)); break;
            }
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(instance.ptr())), instance.ptr());
        }
    });
}

}  // namespace vospy
