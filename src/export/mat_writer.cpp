// MAT 7.3 through libmatio: one column vector per channel, appended block
// by block, and a struct `info` with the facts.
#include <matio.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "export/writers.h"

namespace exportdetail {

namespace {

struct FreeVariable {
    void operator()(matvar_t* variable) const { Mat_VarFree(variable); }
};
using Variable = std::unique_ptr<matvar_t, FreeVariable>;

// Failures come back as statuses; matio's log would only repeat them.
void Quiet(int, char*) {}

// Values a struct field points to until the struct is written.
struct InfoValues {
    std::vector<std::string> texts;
    std::vector<double> numbers;
    std::vector<std::uint64_t> positions, lost;
    std::string gapUtc;  // one row per gap, column by column
};

matvar_t* TextField(InfoValues& values, const std::string& text) {
    std::string& kept = values.texts.emplace_back(text);
    size_t dims[2] = {1, kept.size()};
    return Mat_VarCreate(nullptr, MAT_C_CHAR, MAT_T_UINT8, 2, dims, kept.data(), MAT_F_DONT_COPY_DATA);
}

matvar_t* NumberField(double& value) {
    size_t dims[2] = {1, 1};
    return Mat_VarCreate(nullptr, MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims, &value, MAT_F_DONT_COPY_DATA);
}

matvar_t* CountsField(std::vector<std::uint64_t>& counts) {
    size_t dims[2] = {counts.size(), 1};
    return Mat_VarCreate(nullptr, MAT_C_UINT64, MAT_T_UINT64, 2, dims, counts.data(), MAT_F_DONT_COPY_DATA);
}

bool WriteInfo(mat_t* mat, const ExportFacts& facts) {
    static const char* const FIELDS[] = {"sampling_period", "first_sample", "sample_count", "clock",
                                         "clock_divider", "first_sample_utc", "recording_identity",
                                         "trigger_channel", "trigger", "threshold", "units",
                                         "gap_position", "gap_lost_samples", "gap_utc", nullptr};
    InfoValues values;
    values.texts.reserve(8);
    values.numbers = {facts.period, static_cast<double>(facts.first), static_cast<double>(facts.count),
                      static_cast<double>(facts.clockDivider), facts.threshold};
    for (const ExportFacts::Gap& gap : facts.gaps) {
        values.positions.push_back(gap.position);
        values.lost.push_back(gap.lost);
    }
    // A char matrix is stored column by column.
    const std::size_t width = facts.gaps.empty() ? 0 : facts.gaps.front().utc.size();
    for (std::size_t c = 0; c < width; ++c) {
        for (const ExportFacts::Gap& gap : facts.gaps) values.gapUtc += gap.utc[c];
    }
    const size_t one[2] = {1, 1};
    Variable info(Mat_VarCreateStruct2("info", 2, one, FIELDS));
    if (!info) return false;
    size_t utcDims[2] = {facts.gaps.size(), width};
    matvar_t* const fields[] = {
        NumberField(values.numbers[0]),
        NumberField(values.numbers[1]),
        NumberField(values.numbers[2]),
        TextField(values, facts.clock),
        NumberField(values.numbers[3]),
        TextField(values, facts.firstUtc),
        TextField(values, facts.identity),
        TextField(values, "CH" + std::to_string(facts.triggerChannel)),
        TextField(values, facts.trigger),
        NumberField(values.numbers[4]),
        TextField(values, "V"),
        CountsField(values.positions),
        CountsField(values.lost),
        Mat_VarCreate(nullptr, MAT_C_CHAR, MAT_T_UINT8, 2, utcDims, values.gapUtc.data(), MAT_F_DONT_COPY_DATA),
    };
    bool ok = true;
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        ok = fields[i] != nullptr && Mat_VarSetStructFieldByName(info.get(), FIELDS[i], 0, fields[i]) == nullptr && ok;
    }
    return ok && Mat_VarWrite(mat, info.get(), MAT_COMPRESSION_NONE) == 0;
}

}  // namespace

FileError WriteMat(const ExportRequest& request, const ExportFacts& facts, const SeriesReader& reader,
                   const std::string& path, ExportProgress& progress) {
    NoCloseAtExit();  // before Mat_LogInitFunc, which starts libhdf5
    Mat_LogInitFunc("vos", Quiet);
    mat_t* const mat = Mat_CreateVer(path.c_str(), nullptr, MAT_FT_MAT73);
    if (mat == nullptr) return FileError::Write;
    const matio_compression compression = request.compress ? MAT_COMPRESSION_ZLIB : MAT_COMPRESSION_NONE;
    FileError result = WriteInfo(mat, facts) ? FileError::None : FileError::Write;
    if (result == FileError::None) {
        result = ForEachBlock(request, facts, reader, progress,
                              [&](int ch, std::uint64_t, std::uint64_t n, const double* data) {
                                  size_t dims[2] = {n, 1};
                                  const Variable column(Mat_VarCreate(ChannelName(ch), MAT_C_DOUBLE, MAT_T_DOUBLE, 2,
                                                                      dims, const_cast<double*>(data),
                                                                      MAT_F_DONT_COPY_DATA));
                                  return column && Mat_VarWriteAppend(mat, column.get(), compression, 1) == 0;
                              });
    }
    const int cause = errno;
    if (Mat_Close(mat) != 0 && result == FileError::None) return FileError::Write;
    errno = cause;
    return result;
}

}  // namespace exportdetail
