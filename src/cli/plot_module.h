#pragma once

#include <cstddef>
#include <cstdint>

// vosctl plot draws in a module of its own, loaded only when plot runs: the
// window's canvas needs Qt Gui, whose start-up the other commands do without.

/// File name of the drawing module.
inline constexpr const char* PLOT_MODULE_FILE = "vosctl_plot.so";

/// Name of its one entry point, a DrawPngFunction.
inline constexpr const char* PLOT_MODULE_SYMBOL = "VosctlDrawPng";

/// Draws a record as the window shows it after Open, in display `mode`
/// (0 four panes, 1 overlay), with the window's own drawing code and no
/// display. Returns the PNG bytes, allocated with malloc for the caller to
/// free, and sets `*size`; null when the picture cannot be encoded.
using DrawPngFunction = char* (*)(int mode, const double* const* channels, std::uint32_t count,
                                  std::int32_t divider, std::size_t* size);
