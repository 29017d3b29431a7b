// LV2_PATH with relative directories: made absolute before lilv sees it,
// so that a plugin developer's "build/lv2" opens instead of crashing.

#include "harness/host_rig.hpp"
#include "host/lv2_path.hpp"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

TEST(Lv2Path, RelativeDirectoriesAreMadeAbsoluteAndTheRestKept) {
  const std::string here = std::filesystem::current_path().string();
  const struct {
    const char* path;
    std::string expected;
  } cases[] = {
      {"/usr/lib/lv2", "/usr/lib/lv2"},
      {"build/lv2", here + "/build/lv2"},
      {"~/.lv2:./lv2::/usr/lib/lv2", "~/.lv2:" + here + "/./lv2:/usr/lib/lv2"},
      {"$HOME/.lv2:", "$HOME/.lv2"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(absolute_lv2_path(c.path), c.expected) << c.path;
  }
}

TEST(Lv2Path, APluginOpensFromARelativeDirectory) {
  const std::string saved_path = std::getenv("LV2_PATH");
  const std::filesystem::path saved_dir = std::filesystem::current_path();
  const std::filesystem::path fixtures(BEXO_FIXTURE_LV2_DIR);
  std::filesystem::current_path(fixtures.parent_path());
  setenv("LV2_PATH", fixtures.filename().c_str(), 1);
  {
    HostRig rig;
    EXPECT_EQ(rig.load("urn:bexo:test:controls"), 0);
  }
  setenv("LV2_PATH", saved_path.c_str(), 1);
  std::filesystem::current_path(saved_dir);
}

} // namespace
