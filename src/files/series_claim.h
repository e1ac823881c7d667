#pragma once

// The names a running recording owns: whatever it has written and whatever
// it may still create. Another program that took one of them would end the
// recording or be taken into it.

#include <string>

/// Whether `path` is, or (for a name not there yet) would be, a name the
/// recording of the series PREFIX owns: a data or working file of any index
/// (PREFIX-NNNNNN.dlf, PREFIX-NNNNNN.vrec) or its lock file. The folder is
/// compared as a folder, so that another spelling of it or a link to it is
/// caught, and a link named `path` is followed to the name it points to.
bool SeriesClaimsName(const std::string& prefix, const std::string& path);
