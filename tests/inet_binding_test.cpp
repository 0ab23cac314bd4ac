#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Puts the probe (and optionally a library) into a fresh directory tree and runs it
// against a port where nothing listens.
std::string probeWith(const std::string& library, const std::string& libraryDir) {
    fs::path root = MakeTempDir();
    fs::create_directories(root / "bin");
    fs::copy_file(INET_PROBE_PATH, root / "bin" / "inet_probe");
    if (!library.empty()) {
        fs::create_directories(root / libraryDir);
        fs::copy_file(library, root / libraryDir / "libstepinet.so");
    }
    RunResult r = RunProgram((root / "bin" / "inet_probe").string(), {"127.0.0.1", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

TEST(InetBinding, MissingLibraryFailsEveryCallWithItsText) {
    EXPECT_EQ(probeWith("", ""),
              "close -18 distinct=1\n"
              "open -18 Failed to load library DLL\n"
              "readuntil -18 Failed to load library DLL\n");
}

TEST(InetBinding, MissingEntryPointIsReportedAlone) {
    EXPECT_EQ(probeWith(STUB_INET_PATH, "bin"),
              "close -5 distinct=1\n"
              "open 3 stub error\n"
              "readuntil -19 Failed to find a function in library DLL\n");
}

TEST(InetBinding, LibraryIsFoundInLibBesideBin) {
    EXPECT_EQ(probeWith(REAL_INET_PATH, "lib"),
              "close -5 distinct=1\n"
              "open -2 Could not connect to the host\n"
              "readuntil -5 Invalid connection handle\n");
}

}  // namespace
