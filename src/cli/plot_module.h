#pragma once

#include <cstddef>
#include <cstdint>

// vosctl plot draws in a module of its own, loaded only when plot runs: the
// window's canvas needs Qt Gui, whose start-up the other commands do without.

class SampleSource;
struct SummaryPyramid;

/// File name of the drawing module.
inline constexpr const char* PLOT_MODULE_FILE = "vosctl_plot.so";

/// Name of its entry point for a record in memory, a DrawPngFunction.
inline constexpr const char* PLOT_MODULE_SYMBOL = "VosctlDrawPng";

/// Name of its entry point for a series of files, a DrawSeriesPngFunction.
inline constexpr const char* PLOT_MODULE_SERIES_SYMBOL = "VosctlDrawSeriesPng";

/// Draws a record as the window shows it after Open, in display `mode`
/// (0 four panes, 1 overlay), with the window's own drawing code and no
/// display. Returns the PNG bytes, allocated with malloc for the caller to
/// free, and sets `*size`; null when the picture cannot be encoded.
using DrawPngFunction = char* (*)(int mode, const double* const* channels, std::uint32_t count,
                                  std::int32_t divider, std::size_t* size);

/// The same for the whole of a record held by `source` (a series of files
/// read on demand), read through its `summaries` as the window draws it:
/// the picture of the same samples in memory, without holding them. Both
/// objects are vosctl's, built from the same sources as the module.
using DrawSeriesPngFunction = char* (*)(int mode, const SampleSource& source, const SummaryPyramid& summaries,
                                        std::size_t* size);
