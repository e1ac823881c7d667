// The core of the Python module vosviewer; vosviewer/__init__.py builds the
// public functions on it.
#include <pybind11/pybind11.h>

#include "errors.h"
#include "logger.h"
#include "record.h"

PYBIND11_MODULE(_vosviewer, module) {
    module.doc() = "The C++ core of vosviewer; use the functions of the package vosviewer.";
    vospy::RegisterErrors(module);
    vospy::BindRecord(module);
    vospy::BindLogger(module);
    module.attr("VERSION") = VOS_VERSION;
}
