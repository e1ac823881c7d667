// Runs the doctor tests inside umockdev's fake /sys and /dev: the test program
// starts itself again under umockdev-wrapper, which preloads the library that
// redirects the paths into the testbed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "doctor/umockdev_env.h"

bool UmockdevPreloaded() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

int main(int argc, char** argv) {
    if (!UmockdevPreloaded() && std::getenv("VOS_UMOCKDEV_TRIED") == nullptr) {
        setenv("VOS_UMOCKDEV_TRIED", "1", 1);
        // AddressSanitizer wants to be first in the library list; the preload goes before it.
        std::string asan = std::getenv("ASAN_OPTIONS") != nullptr ? std::getenv("ASAN_OPTIONS") : "";
        setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
        std::vector<char*> args{const_cast<char*>("umockdev-wrapper")};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp(args[0], args.data());
        // Not installed: the tests that need the fake tree skip and say why.
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
