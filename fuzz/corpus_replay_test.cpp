// Every fuzz target's seed corpus, replayed through the target in an ordinary
// test program, so that the sanitizer build checks each seed on every run
// without libFuzzer. Each target's entry point is compiled under its own name
// (fuzz/CMakeLists.txt); a target that finds a broken invariant aborts, and
// the sanitizers stop the program on a memory or undefined-behaviour fault,
// so the last file named on standard error is the input that did it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

// fuzz_targets.inc: X(name) for each fuzz/<name>_fuzz.cpp, written by the build.
#define X(name) extern "C" int name##_fuzz_entry(const std::uint8_t*, std::size_t);
#include "fuzz_targets.inc"
#undef X

namespace {

namespace fs = std::filesystem;

struct FuzzTarget {
    const char* name;  // the corpus folder under fuzz/corpus
    int (*entry)(const std::uint8_t*, std::size_t);
};

const FuzzTarget kTargets[] = {
#define X(name) FuzzTarget{#name, &name##_fuzz_entry},
#include "fuzz_targets.inc"
#undef X
};

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CorpusReplay : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(CorpusReplay, EverySeedPassesTheTarget) {
    const fs::path folder = fs::path(MENDLY_FUZZ_CORPUS) / GetParam().name;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    std::vector<fs::path> seeds;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file()) seeds.push_back(item.path());
    std::sort(seeds.begin(), seeds.end());
    ASSERT_FALSE(seeds.empty()) << "no seeds in " << folder;
    for (const fs::path& seed : seeds) {
        std::cerr << "replaying " << seed.string() << '\n';
        const std::string bytes = readAll(seed);
        // libFuzzer's contract: 0, or -1 for an input kept out of the corpus.
        const int rc = GetParam().entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        EXPECT_TRUE(rc == 0 || rc == -1) << seed << " returned " << rc;
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusReplay, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
