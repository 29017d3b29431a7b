// Every input of the seed corpora and of the regressions, run through its
// target's entry point in this one process, so that the normal suite and
// the sanitizer builds replay them.  An input that leaves the host
// inconsistent stops the program (fuzz_check) and so fails the suite.

#include "fuzz_targets.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Target {
  const char* name;
  int (*entry)(const uint8_t*, size_t);
};

const Target targets[] = {
    {"ui_ring", fuzz_ui_ring},           {"process_ring", fuzz_process_ring},
    {"ui_write", fuzz_ui_write},         {"atoms", fuzz_atoms},
    {"event_buffer", fuzz_event_buffer}, {"control_setting", fuzz_control_setting},
};

std::vector<std::filesystem::path> inputs_in(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    // A README says what the directory is for; it is no input.
    if (entry.is_regular_file() && entry.path().filename() != "README") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Replay : public testing::TestWithParam<Target> {};

// The seeds are the fuzzer's starting points: a target without any would
// start from nothing, so each must have some.
TEST_P(Replay, SeedCorpusRunsClean) {
  const Target& target = GetParam();
  const auto files = inputs_in(std::filesystem::path(BEXO_FUZZ_DIR) / "corpus" / target.name);
  ASSERT_FALSE(files.empty()) << "no seeds for " << target.name;
  for (const auto& file : files) {
    const std::vector<uint8_t> input = read_file(file);
    EXPECT_EQ(target.entry(input.data(), input.size()), 0) << file;
  }
}

TEST_P(Replay, RegressionsRunClean) {
  const Target& target = GetParam();
  const auto dir = std::filesystem::path(BEXO_FUZZ_DIR) / "regressions" / target.name;
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  for (const auto& file : inputs_in(dir)) {
    const std::vector<uint8_t> input = read_file(file);
    EXPECT_EQ(target.entry(input.data(), input.size()), 0) << file;
  }
}

// Each input must stand on its own: the same one twice, and an empty one,
// pass as they do first.
TEST_P(Replay, EmptyAndRepeatedInputsRunClean) {
  const Target& target = GetParam();
  EXPECT_EQ(target.entry(nullptr, 0), 0);
  const auto files = inputs_in(std::filesystem::path(BEXO_FUZZ_DIR) / "corpus" / target.name);
  ASSERT_FALSE(files.empty());
  const std::vector<uint8_t> input = read_file(files.front());
  EXPECT_EQ(target.entry(input.data(), input.size()), 0);
  EXPECT_EQ(target.entry(input.data(), input.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Replay, testing::ValuesIn(targets),
                         [](const testing::TestParamInfo<Target>& info) {
                           return std::string(info.param.name);
                         });

} // namespace
