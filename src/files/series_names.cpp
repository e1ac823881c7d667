#include "files/series_names.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace {

constexpr std::size_t MIN_DIGITS = 6;
constexpr std::size_t MAX_DIGITS = 10;  // UINT32_MAX

// The decimal value of `digits` as SeriesMemberName writes an index; 0 for any other text.
std::uint32_t IndexValue(std::string_view digits) {
    if (digits.size() < MIN_DIGITS || digits.size() > MAX_DIGITS) return 0;
    // A wider number never starts with zero: each index has one name.
    if (digits.size() > MIN_DIGITS && digits.front() == '0') return 0;
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value <= UINT32_MAX ? static_cast<std::uint32_t>(value) : 0;
}

// The pid of ".NAME.PID-N.new" for `name`; 0 for other entries.
long TemporaryPid(std::string_view entry, std::string_view name) {
    constexpr std::string_view TAIL = ".new";
    if (entry.size() <= name.size() + 2 + TAIL.size() || entry.front() != '.' || entry.substr(1, name.size()) != name ||
        entry[name.size() + 1] != '.' || !entry.ends_with(TAIL)) {
        return 0;
    }
    const std::string_view middle = entry.substr(name.size() + 2, entry.size() - name.size() - 2 - TAIL.size());
    const std::size_t dash = middle.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 10 || dash + 1 == middle.size() ||
        middle.find_first_not_of("0123456789-") != std::string_view::npos ||
        middle.find('-', dash + 1) != std::string_view::npos) {
        return 0;
    }
    long pid = 0;
    for (const char c : middle.substr(0, dash)) pid = pid * 10 + (c - '0');
    return pid;
}

}  // namespace

std::string SeriesMemberName(const std::string& prefix, std::uint32_t index, const char* extension) {
    char number[24];
    std::snprintf(number, sizeof number, "-%06u", static_cast<unsigned>(index));
    return prefix + number + extension;
}

std::uint32_t SeriesIndexOf(std::string_view name, std::string_view base, std::string_view extension) {
    if (name.size() <= base.size() + 1 + extension.size() || !name.starts_with(base) || name[base.size()] != '-' ||
        !name.ends_with(extension)) {
        return 0;
    }
    return IndexValue(name.substr(base.size() + 1, name.size() - base.size() - 1 - extension.size()));
}

std::uint32_t DataFileIndex(const std::string& path, std::string& prefix) {
    const std::size_t slash = path.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dash = path.rfind('-');
    if (dash == std::string::npos || dash < start) return 0;
    const std::string_view name = std::string_view(path).substr(start);
    const std::uint32_t index = SeriesIndexOf(name, name.substr(0, dash - start), SERIES_DATA_EXTENSION);
    if (index != 0) prefix = path.substr(0, dash);
    return index;
}

SeriesListing ListSeries(const std::string& prefix) {
    const std::size_t slash = prefix.rfind('/');
    const std::string folderPart = slash == std::string::npos ? std::string() : prefix.substr(0, slash + 1);
    const std::string base = prefix.substr(folderPart.size());
    SeriesListing listing;
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(folderPart.empty() ? "." : folderPart.c_str()), ::closedir);
    if (!folder) {
        listing.error = errno;
        return listing;
    }
    const std::string dataHead = "." + base + "-";
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder.get());
        if (entry == nullptr) {
            listing.error = errno;
            break;
        }
        const std::string_view name = entry->d_name;
        if (const std::uint32_t index = SeriesIndexOf(name, base, SERIES_DATA_EXTENSION); index != 0) {
            listing.dataFiles.push_back({index, folderPart + std::string(name)});
        } else if (const std::uint32_t index = SeriesIndexOf(name, base, SERIES_WORKING_EXTENSION); index != 0) {
            listing.workingFiles.push_back({index, folderPart + std::string(name)});
        } else if (name.starts_with(dataHead) && name.ends_with(".new")) {
            // .NAME.PID-N.new, where NAME is a data file of the series.
            const std::size_t end = name.find(std::string_view(SERIES_DATA_EXTENSION), dataHead.size());
            if (end == std::string_view::npos) continue;
            const std::string_view dataName = name.substr(1, end + 4 - 1);
            if (SeriesIndexOf(dataName, base, SERIES_DATA_EXTENSION) == 0) continue;
            if (const long pid = TemporaryPid(name, dataName); pid > 0) {
                listing.temporaries.push_back({folderPart + std::string(name), pid});
            }
        }
    }
    const auto byIndex = [](const SeriesMember& a, const SeriesMember& b) { return a.index < b.index; };
    std::sort(listing.dataFiles.begin(), listing.dataFiles.end(), byIndex);
    std::sort(listing.workingFiles.begin(), listing.workingFiles.end(), byIndex);
    return listing;
}

bool ProcessGone(long pid) { return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

bool SeriesOrderLess(const std::string& a, const std::string& b) {
    std::string prefixA;
    std::string prefixB;
    const std::uint32_t indexA = DataFileIndex(a, prefixA);
    const std::uint32_t indexB = DataFileIndex(b, prefixB);
    // Compared as (prefix, index) and (name, 0): an order whatever the mix.
    const std::string& keyA = indexA != 0 ? prefixA : a;
    const std::string& keyB = indexB != 0 ? prefixB : b;
    return keyA != keyB ? keyA < keyB : indexA < indexB;
}

namespace {

// The data files of every prefix in `folderPart` ("" for the current
// folder), each in index order, from one reading of the folder: a series of
// thousands of files named one by one would otherwise read it once per name.
std::unordered_map<std::string, std::vector<SeriesMember>> DataFilesByPrefix(const std::string& folderPart) {
    std::unordered_map<std::string, std::vector<SeriesMember>> series;
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(folderPart.empty() ? "." : folderPart.c_str()),
                                                     ::closedir);
    if (!folder) {
        return series;
    }
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string_view name = entry->d_name;
        // Digits hold no dash, so the base ends at the last one.
        const std::size_t dash = name.rfind('-');
        if (dash == std::string_view::npos) continue;
        const std::string_view base = name.substr(0, dash);
        if (const std::uint32_t index = SeriesIndexOf(name, base, SERIES_DATA_EXTENSION); index != 0) {
            series[std::string(base)].push_back({index, folderPart + std::string(name)});
        }
    }
    for (auto& [base, members] : series) {
        std::sort(members.begin(), members.end(),
                  [](const SeriesMember& a, const SeriesMember& b) { return a.index < b.index; });
    }
    return series;
}

}  // namespace

ExpandedArguments ExpandPrefixes(const std::vector<std::string>& arguments) {
    ExpandedArguments expanded;
    std::unordered_map<std::string, std::unordered_map<std::string, std::vector<SeriesMember>>> folders;
    for (const std::string& argument : arguments) {
        struct stat info {};
        const bool file = ::stat(argument.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
        std::vector<SeriesMember> series;
        if (!argument.empty() && argument.back() != '/') {
            const std::size_t slash = argument.rfind('/');
            const std::string folderPart = slash == std::string::npos ? std::string() : argument.substr(0, slash + 1);
            auto listed = folders.find(folderPart);
            if (listed == folders.end()) {
                listed = folders.emplace(folderPart, DataFilesByPrefix(folderPart)).first;
            }
            const auto found = listed->second.find(argument.substr(folderPart.size()));
            if (found != listed->second.end()) {
                series = found->second;
            }
        }
        if (file && !series.empty() && expanded.ambiguous.empty()) {
            expanded.ambiguous = argument;
            expanded.ambiguousSeries = series;
        }
        if (series.empty() || file) {
            expanded.files.push_back(argument);
        } else {
            for (const SeriesMember& member : series) expanded.files.push_back(member.path);
        }
    }
    return expanded;
}
