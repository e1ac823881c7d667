#pragma once

#include <span>
#include <string>

#include "files/dlf.h"

/// Why the files `paths`, whose headers are `headers`, in the order given,
/// do not form one record (CheckSeries): the two files that do not belong
/// together and what sets them apart, e.g. "a.dlf (10kHz) and b.dlf (1kHz)
/// have different clocks"; empty when they do form one. Both the window's
/// refusal and vosctl's name the files with it.
std::string MixedFilesText(std::span<const std::string> paths, std::span<const DataFileHeader> headers);
