#include "files/series_claim.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "files/temp_dir.h"

namespace {

// The names of the recording DIR/run, there or not yet, however spelt.
TEST(SeriesClaim, EveryNameTheRecordingMayStillCreate) {
    const TempDir dir;
    const std::string prefix = dir.Path("run");
    std::filesystem::create_directories(dir.Path("sub"));
    std::filesystem::create_directory_symlink(dir.Path(""), dir.Path("same"));
    std::filesystem::create_symlink(dir.Path("run-000030.dlf"), dir.Path("alias.dlf"));
    std::filesystem::create_symlink("run-000031.vrec", dir.Path("relative.csv"));
    struct Case {
        std::string path;
        bool claimed;
    };
    const Case cases[] = {
        {dir.Path("run-000001.dlf"), true},
        {dir.Path("run-000029.dlf"), true},
        {dir.Path("run-000029.vrec"), true},
        {dir.Path("run-1000000.dlf"), true},
        {dir.Path(".run.lock"), true},
        {dir.Path("sub/../run-000002.dlf"), true},   // another spelling of the folder
        {dir.Path("same/run-000002.dlf"), true},     // a link to the folder
        {dir.Path("alias.dlf"), true},               // a link to a future file
        {dir.Path("relative.csv"), true},            // a relative link to one
        {dir.Path("run-000001.csv"), false},
        {dir.Path("run-00001.dlf"), false},          // no index the recorder writes
        {dir.Path("run.dlf"), false},
        {dir.Path("runs-000001.dlf"), false},
        {dir.Path("other-000001.dlf"), false},
        {dir.Path("sub/run-000001.dlf"), false},     // another folder
        {dir.Path(".other.lock"), false},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(SeriesClaimsName(prefix, test.path), test.claimed) << test.path;
    }
}

}  // namespace
