#pragma once
#include <pybind11/pybind11.h>

namespace vospy {

/// Adds the logger's functions (list, acquire, record) to the module.
void BindLogger(pybind11::module_& module);

}  // namespace vospy
