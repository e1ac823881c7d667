// A record's part, with its facts, written whole or not at all.
#include "export/export.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <strings.h>

#include "export/writers.h"
#include "files/series.h"
#include "numtext/duration.h"
#include "settings/settings.h"

namespace exportdetail {

const char* ChannelName(int channel) {
    static const char* const NAMES[] = {"CH0", "CH1", "CH2", "CH3", "times"};
    return NAMES[channel];
}

FileError ForEachBlock(const ExportRequest& request, const ExportFacts& facts, const SeriesReader& reader,
                       ExportProgress& progress, const BlockSink& sink) {
    const std::unique_ptr<double[]> buffer(new double[BLOCK]);
    std::size_t gap = 0;
    double shift = 0.0;  // the seconds the gaps before the block add
    for (std::uint64_t offset = 0; offset < facts.count; offset += BLOCK) {
        const std::uint64_t n = std::min(BLOCK, facts.count - offset);
        for (int ch = 0; ch < 4; ++ch) {
            if (!request.channels[ch]) continue;
            if (!reader.Copy(ch, facts.first + offset, n, buffer.get())) return FileError::Read;
            if (!sink(ch, offset, n, buffer.get())) return FileError::Write;
        }
        if (request.times) {
            for (std::uint64_t i = 0; i < n; ++i) {
                while (gap < facts.gaps.size() && facts.gaps[gap].position <= offset + i) {
                    shift += facts.gapSeconds[gap++];
                }
                buffer[i] = static_cast<double>(offset + i) * facts.period + shift;
            }
            if (!sink(4, offset, n, buffer.get())) return FileError::Write;
        }
        progress.done.store(offset + n);
    }
    return FileError::None;
}

}  // namespace exportdetail

std::optional<ExportFormat> ExportFormatOfName(const std::string& path) {
    const auto endsIn = [&](const char* suffix) {
        const std::size_t n = std::char_traits<char>::length(suffix);
        return path.size() > n && ::strcasecmp(path.c_str() + path.size() - n, suffix) == 0;
    };
    if (endsIn(".h5") || endsIn(".hdf5")) return ExportFormat::Hdf5;
    if (endsIn(".mat")) return ExportFormat::Mat;
    return std::nullopt;
}

namespace {

ExportFacts FactsOf(const ExportRequest& request, const SeriesReader& reader) {
    ExportFacts facts;
    const DataFileHeader& header = reader.Header(0);
    facts.first = request.first;
    facts.count = request.last - request.first;
    facts.clockDivider = header.clockDivider;
    facts.period = header.clockDivider * 1e-4;
    facts.clock = ClockName(header.clockDivider);
    facts.triggerChannel = header.triggerChannel & 0xFF;
    facts.trigger = header.triggerType >= 0 && header.triggerType < 4 ? TRIGGER_TYPE_TEXTS[header.triggerType] : "none";
    facts.threshold = header.threshold;
    if (const std::optional<std::int64_t> utc = reader.SampleTimeMicros(request.first)) {
        facts.firstUtc = UtcText(*utc);
        facts.identity = IdentityText(reader.StampFrom(request.first)->identity);
    }
    std::vector<DataFileHeader> headers;
    for (std::size_t i = 0; i < reader.FileCount(); ++i) headers.push_back(reader.Header(i));
    for (const SeriesGap& gap : SeriesGaps(headers)) {
        const std::uint64_t at = reader.FirstSample(gap.after);
        if (at > request.first && at < request.last) {
            facts.gaps.push_back({at - request.first, gap.lostSamples, UtcText(gap.toMicros)});
            facts.gapSeconds.push_back(static_cast<double>(gap.toMicros - gap.fromMicros) * 1e-6);
        }
    }
    return facts;
}

}  // namespace

ExportResult ExportRecord(const ExportRequest& request, const std::string& path, ExportProgress& progress) {
    SeriesReader reader;
    if (const FileError error = reader.Open(request.files); error != FileError::None) return {FileError::Read, 0};
    if (request.first >= request.last || request.last > reader.Count()) return {FileError::Read, 0};
    const ExportFacts facts = FactsOf(request, reader);
    ReplacementFile file;
    if (!file.Open(path)) return {FileError::Open, errno};
    // The libraries write by name; a FIFO or a device cannot take their seeks.
    if (file.NewPath().empty()) return {FileError::Open, ESPIPE};
    const FileError error = request.format == ExportFormat::Hdf5
                                ? exportdetail::WriteHdf5(request, facts, reader, file.NewPath(), progress)
                                : exportdetail::WriteMat(request, facts, reader, file.NewPath(), progress);
    if (error != FileError::None) return {error, errno};
    if (!file.Commit()) return {FileError::Write, errno};
    return {};
}
