// HDF5: one chunked float64 dataset per channel, the facts as attributes,
// the gaps as a compound table.
#include <hdf5.h>

#include <cerrno>
#include <cstddef>
#include <vector>

#include "export/writers.h"

namespace exportdetail {

namespace {

// An HDF5 identifier closed with its own close function.
class Handle {
public:
    Handle(hid_t id, herr_t (*close)(hid_t)) : m_id(id), m_close(close) {}
    ~Handle() {
        if (m_id >= 0) m_close(m_id);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : m_id(other.m_id), m_close(other.m_close) { other.m_id = H5I_INVALID_HID; }
    operator hid_t() const { return m_id; }
    bool Valid() const { return m_id >= 0; }

private:
    hid_t m_id;
    herr_t (*m_close)(hid_t);
};

Handle StringType() {
    Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
    if (type.Valid()) {
        H5Tset_size(type, H5T_VARIABLE);
        H5Tset_cset(type, H5T_CSET_UTF8);
    }
    return type;
}

bool Attribute(hid_t object, const char* name, hid_t fileType, hid_t memoryType, const void* value) {
    const Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    const Handle attribute(H5Acreate2(object, name, fileType, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    return attribute.Valid() && H5Awrite(attribute, memoryType, value) >= 0;
}

bool Text(hid_t object, const char* name, const std::string& value) {
    const Handle type = StringType();
    const char* text = value.c_str();
    return Attribute(object, name, type, type, &text);
}

bool Number(hid_t object, const char* name, double value) {
    return Attribute(object, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, &value);
}

bool Integer(hid_t object, const char* name, std::int64_t value) {
    return Attribute(object, name, H5T_STD_I64LE, H5T_NATIVE_INT64, &value);
}

bool Count(hid_t object, const char* name, std::uint64_t value) {
    return Attribute(object, name, H5T_STD_U64LE, H5T_NATIVE_UINT64, &value);
}

// The record's facts on the file's root group.
bool RootFacts(hid_t root, const ExportFacts& facts) {
    bool ok = Number(root, "sampling_period", facts.period) && Text(root, "sampling_period_units", "s") &&
              Count(root, "first_sample", facts.first) && Count(root, "sample_count", facts.count) &&
              Text(root, "clock", facts.clock) && Integer(root, "clock_divider", facts.clockDivider) &&
              Text(root, "trigger_channel", "CH" + std::to_string(facts.triggerChannel)) &&
              Text(root, "trigger", facts.trigger) && Number(root, "threshold", facts.threshold);
    if (!facts.firstUtc.empty()) {
        ok = ok && Text(root, "first_sample_utc", facts.firstUtc) && Text(root, "recording_identity", facts.identity);
    }
    return ok;
}

// The gaps: position, lost_samples, utc per row.
bool GapTable(hid_t file, const ExportFacts& facts) {
    struct Row {
        std::uint64_t position;
        std::uint64_t lost;
        const char* utc;
    };
    std::vector<Row> rows;
    for (const ExportFacts::Gap& gap : facts.gaps) rows.push_back({gap.position, gap.lost, gap.utc.c_str()});
    const Handle text = StringType();
    const Handle memory(H5Tcreate(H5T_COMPOUND, sizeof(Row)), H5Tclose);
    const Handle stored(H5Tcreate(H5T_COMPOUND, 16 + sizeof(char*)), H5Tclose);
    if (!text.Valid() || !memory.Valid() || !stored.Valid() ||
        H5Tinsert(memory, "position", offsetof(Row, position), H5T_NATIVE_UINT64) < 0 ||
        H5Tinsert(memory, "lost_samples", offsetof(Row, lost), H5T_NATIVE_UINT64) < 0 ||
        H5Tinsert(memory, "utc", offsetof(Row, utc), text) < 0 ||
        H5Tinsert(stored, "position", 0, H5T_STD_U64LE) < 0 ||
        H5Tinsert(stored, "lost_samples", 8, H5T_STD_U64LE) < 0 || H5Tinsert(stored, "utc", 16, text) < 0) {
        return false;
    }
    const hsize_t dims[1] = {rows.size()};
    const Handle space(H5Screate_simple(1, dims, nullptr), H5Sclose);
    const Handle table(H5Dcreate2(file, "gaps", stored, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Dclose);
    return table.Valid() && (rows.empty() || H5Dwrite(table, memory, H5S_ALL, H5S_ALL, H5P_DEFAULT, rows.data()) >= 0);
}

}  // namespace

void NoCloseAtExit() {
    // A file whose close failed (a full disk) stays open inside the library,
    // and closing it again at exit crashes; the system closes it instead.
    H5dont_atexit();
}

FileError WriteHdf5(const ExportRequest& request, const ExportFacts& facts, const SeriesReader& reader,
                    const std::string& path, ExportProgress& progress) {
    // Failures come back as statuses; the library's own printing would
    // only repeat them on standard error.
    NoCloseAtExit();
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0) return FileError::Write;
    FileError result = FileError::Write;
    {
        const hsize_t dims[1] = {facts.count};
        const hsize_t chunk[1] = {std::min<hsize_t>(facts.count, BLOCK)};
        const Handle space(H5Screate_simple(1, dims, nullptr), H5Sclose);
        const Handle layout(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
        bool ok = space.Valid() && layout.Valid() && H5Pset_chunk(layout, 1, chunk) >= 0 &&
                  (!request.compress || (H5Pset_shuffle(layout) >= 0 && H5Pset_deflate(layout, 4) >= 0)) &&
                  RootFacts(file, facts) && GapTable(file, facts);
        std::vector<hid_t> datasets(5, H5I_INVALID_HID);
        for (int ch = 0; ok && ch < 5; ++ch) {
            if (ch < 4 ? !request.channels[ch] : !request.times) continue;
            datasets[ch] = H5Dcreate2(file, ChannelName(ch), H5T_IEEE_F64LE, space, H5P_DEFAULT, layout, H5P_DEFAULT);
            ok = datasets[ch] >= 0 && Text(datasets[ch], "units", ch < 4 ? "V" : "s") &&
                 (ch == 4 || Number(datasets[ch], "sampling_period", facts.period)) &&
                 (facts.firstUtc.empty() || Text(datasets[ch], ch < 4 ? "first_sample_utc" : "origin", facts.firstUtc));
        }
        if (ok) {
            result = ForEachBlock(request, facts, reader, progress,
                                  [&](int ch, std::uint64_t offset, std::uint64_t n, const double* data) {
                                      const hsize_t start[1] = {offset};
                                      const hsize_t size[1] = {n};
                                      const Handle memory(H5Screate_simple(1, size, nullptr), H5Sclose);
                                      const Handle part(H5Scopy(space), H5Sclose);
                                      return memory.Valid() && part.Valid() &&
                                             H5Sselect_hyperslab(part, H5S_SELECT_SET, start, nullptr, size,
                                                                 nullptr) >= 0 &&
                                             H5Dwrite(datasets[ch], H5T_NATIVE_DOUBLE, memory, part, H5P_DEFAULT,
                                                      data) >= 0;
                                  });
        }
        for (const hid_t dataset : datasets) {
            if (dataset >= 0 && H5Dclose(dataset) < 0 && result == FileError::None) result = FileError::Write;
        }
    }
    const int cause = errno;
    // Closing writes the last of the data and the file's metadata.
    if (H5Fclose(file) < 0 && result == FileError::None) return FileError::Write;
    errno = cause;
    return result;
}

}  // namespace exportdetail
