#include "files/series_text.h"

#include "files/series.h"
#include "settings/settings.h"

namespace {

// "file 2 of recording 0123..., from sample 1000"
std::string StampText(const DataFileHeader& header) {
    return "file " + std::to_string(header.stamp->index) + " of recording " + IdentityText(header.stamp->identity) +
           ", from sample " + std::to_string(header.stamp->firstSample);
}

std::string SeriesFaultGloss(const SeriesCheck& check, const std::string& a, const DataFileHeader& ha,
                             const std::string& b, const DataFileHeader& hb) {
    switch (check.fault) {
    case SeriesFault::None: break;
    case SeriesFault::Clock:
        return a + " (" + ClockName(ha.clockDivider) + ") and " + b + " (" + ClockName(hb.clockDivider) +
               ") have different clocks";
    case SeriesFault::Recording:
        return a + " and " + b + " belong to two different recordings (" + IdentityText(ha.stamp->identity) +
               " and " + IdentityText(hb.stamp->identity) + ")";
    case SeriesFault::Gap:
        if (!ha.stamp) {
            return a + " has no recording stamp but stands between files of one recording, before " + b + " (" +
                   StampText(hb) + ")";
        }
        return b + " (" + StampText(hb) + ") does not follow " + a + " (" + StampText(ha) + ", " +
               std::to_string(ha.sampleCount) + " samples): a file of the series is missing or repeated";
    }
    return {};
}

}  // namespace

std::string MixedFilesText(std::span<const std::string> paths, std::span<const DataFileHeader> headers) {
    const SeriesCheck check = CheckSeries(headers);
    return check ? std::string()
                 : SeriesFaultGloss(check, paths[check.first], headers[check.first], paths[check.second],
                                    headers[check.second]);
}
