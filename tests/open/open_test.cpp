// Opening the plugin: the messages of a successful open in order, every
// failure with its code and message, how the argument is read, and the
// sizes and rates that the open settles.

#include "harness/memory_lock.hpp"
#include "open_fixture.hpp"
#include "state/control.hpp"
#include "state/state.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A temporary directory of the test's own, removed with everything in it.
struct TempDir {
  TempDir() {
    char pattern[] = "/tmp/bexo-open-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path) << text;
}

// A state file as lilv writes one: the plugin it applies to and port values.
std::string state_file(const char* plugin_uri, const char* symbol, float value) {
  return std::string("@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                     "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                     "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                     "<> a pset:Preset ;\n"
                     "  lv2:appliesTo <") +
         plugin_uri + "> ;\n  lv2:port [ lv2:symbol \"" + symbol + "\" ; pset:value " +
         std::to_string(value) + " ] .\n";
}

using OpenTest = OpenHost;

TEST_F(OpenTest, SuccessfulOpenLogsEachStepInOrder) {
  ASSERT_EQ(open("urn:bexo:test:controls"), 0);
  char midi[64];
  std::snprintf(midi, sizeof(midi), "MIDI buffers: %zu bytes", host.settings.midi_buf_size);
  const std::vector<std::string> expected{
      "Plugin: urn:bexo:test:controls",
      "JACK name: Bexo Test Controls",
      "Sample rate: 48000 Hz",
      "Block length: 256 frames",
      midi,
      "Comm buffers: 16384 bytes", // 16 times the largest port buffer
      "Update rate: 60.0 Hz",
      "Scale factor: 1.0",
  };
  EXPECT_EQ(logged(LOG_LEVEL_INFO), expected);
  EXPECT_TRUE(logged(LOG_LEVEL_ERROR).empty());
  EXPECT_TRUE(logged(LOG_LEVEL_WARNING).empty());

  // Open, not yet active: the plugin is in its default state and paused.
  EXPECT_EQ(host.process.run_state.load(), PAUSED);
  EXPECT_STREQ(host.options.jack_name, "Bexo Test Controls");
  Control* gain = find_control_by_symbol(&host.controls, "gain");
  ASSERT_NE(gain, nullptr);
  EXPECT_EQ(host.process.control_values[gain->index], 1.0f);
}

struct FailureCase {
  const char* name;
  const char* arg;
  int status;
  const char* error; ///< null: nothing is logged
  void (*configure)(Host* host, const fs::path& dir);
  const char* info = nullptr; ///< an info line that must have been logged too
};

// Present only under the leak checker of the sanitizers.
extern "C" void __lsan_disable() __attribute__((weak));

// Runs one failing open in a child process, which then exits as a front end
// would after a failed open: without host_close, through exit(), so the
// rig's destructor never runs.  What the open made is left for the
// process's end, so no leak check applies.
int run_failure(const FailureCase& c, const fs::path& dir) {
  if (__lsan_disable) {
    __lsan_disable();
  }
  test_frontend_reset();
  HostRig rig;
  Host& host = rig.host;
  const std::vector<LogLine>& lines = rig.lines;
  if (c.configure) {
    c.configure(&host, dir);
  }
  // "DIR/" stands for the test's temporary directory.
  std::string resolved = c.arg ? c.arg : "";
  if (resolved.rfind("DIR/", 0) == 0) {
    resolved = (dir / resolved.substr(4)).string();
  }
  const int status = host_open(&host, c.arg ? resolved.c_str() : nullptr);
  std::vector<std::string> errors;
  for (const LogLine& line : lines) {
    if (line.level == LOG_LEVEL_ERROR) {
      errors.push_back(line.text);
    }
  }
  std::vector<std::string> expected;
  if (c.error) {
    std::string error = c.error;
    if (const size_t at = error.find("DIR/"); at != std::string::npos) {
      error.replace(at, 4, dir.string() + "/");
    }
    expected.push_back(error);
  }
  const bool info_found =
      !c.info || std::any_of(lines.begin(), lines.end(), [&](const LogLine& line) {
        return line.level == LOG_LEVEL_INFO && line.text == c.info;
      });
  if (status != c.status || errors != expected || !info_found) {
    std::fprintf(stderr, "status %d, errors:", status);
    for (const auto& e : errors) {
      std::fprintf(stderr, " [%s]", e.c_str());
    }
    std::fprintf(stderr, "\n");
    return 1;
  }
  return 0;
}

// Forked children ("fast" death tests): this runs first, while the process
// has a single thread, and only the parent makes and removes the directory.
TEST(OpenFailureDeathTest, EachFailureHasItsCodeAndMessageAndTheProcessStillExits) {
  TempDir dir;
  write_file(dir.path / "unknown-plugin.ttl", state_file("urn:bexo:test:not-installed", "x", 1));
  const FailureCase cases[] = {
      {"unreadable state file", "DIR/missing.ttl", HOST_OPEN_NO_PLUGIN,
       "Failed to load state \"DIR/missing.ttl\"", nullptr},
      {"unknown URI", "urn:bexo:test:not-installed", HOST_OPEN_NO_PLUGIN,
       "Failed to load state \"urn:bexo:test:not-installed\"", nullptr},
      {"state of a plugin not installed", "DIR/unknown-plugin.ttl", HOST_OPEN_NO_PLUGIN,
       "Plugin <urn:bexo:test:not-installed> is not installed", nullptr},
      {"directory without a saved state", "DIR/", HOST_OPEN_NO_PLUGIN, "No saved state in \"DIR/\"",
       nullptr},
      {"nothing picked", nullptr, HOST_OPEN_NO_PLUGIN,
       "No plugin to open: none was named or chosen", nullptr},
      {"picked plugin not installed", nullptr, HOST_OPEN_NO_PLUGIN, nullptr,
       [](Host*, const fs::path&) { test_frontend().plugin_choice = "urn:bexo:test:nothing"; }},
      {"UI asked for is not there", "urn:bexo:test:uis", HOST_OPEN_NO_UI,
       "Failed to find UI <urn:bexo:test:uis#missing>",
       [](Host* host, const fs::path&) {
         host->options.ui_uri = const_cast<char*>("urn:bexo:test:uis#missing");
         test_frontend().native_ui_type = "urn:bexo:test:ui#TestUI";
       }},
      {"UI asked for cannot be embedded", "urn:bexo:test:uis", HOST_OPEN_NO_UI,
       "Failed to find UI <urn:bexo:test:uis#a-foreign>",
       [](Host* host, const fs::path&) {
         host->options.ui_uri = const_cast<char*>("urn:bexo:test:uis#a-foreign");
         test_frontend().native_ui_type = "urn:bexo:test:ui#TestUI";
       }},
      {"mandatory port of no known kind", "urn:bexo:test:ports-mandatory", HOST_OPEN_BAD_PORT,
       "Mandatory port \"unknown\" has unknown type", nullptr},
      {"no JACK server", "urn:bexo:test:controls", HOST_OPEN_NO_AUDIO,
       "Failed to connect to audio system",
       [](Host*, const fs::path&) { setenv("JACK_DEFAULT_SERVER", "bexo-absent", 1); }},
      {"unsupported required feature", "urn:bexo:test:required-made-up", HOST_OPEN_BAD_FEATURE,
       "Feature urn:bexo:test:made-up-feature is not supported", nullptr},
      {"make-path is for state only", "urn:bexo:test:required-make-path", HOST_OPEN_BAD_FEATURE,
       "Feature http://lv2plug.in/ns/ext/state#makePath is not supported", nullptr},
      {"instantiation refused", "urn:bexo:test:no-instance", HOST_OPEN_NO_INSTANCE,
       "Failed to instantiate plugin", nullptr},
      {"plugin without a name", "urn:bexo:test:nameless", HOST_OPEN_NO_INSTANCE,
       "Failed to instantiate plugin", nullptr, "JACK name: nameless"},
      {"ring size read from a negative number", "urn:bexo:test:controls", HOST_OPEN_BAD_OPTION,
       "Ring size of 4294967295 bytes is too large (at most 67108864)",
       [](Host* host, const fs::path&) { host->options.ring_size = UINT32_MAX; }},
      {"block length read from a negative number", "urn:bexo:test:controls", HOST_OPEN_BAD_OPTION,
       "Block length of 4294967280 frames is too large (at most 65536)",
       [](Host* host, const fs::path&) { host->options.block_length = UINT32_MAX - 15; }},
  };
  for (const FailureCase& c : cases) {
    EXPECT_EXIT(std::exit(run_failure(c, dir.path)), testing::ExitedWithCode(0), "") << c.name;
  }
}

// Exit status of the child: 0 when the open worked and said once that its
// rings are not locked in memory.
int open_without_memory_locking() {
  // JACK's client needs some locked memory of its own; the plugin's rings
  // of a megabyte each are more than the limit leaves.
  if (!forbid_memory_locking(256 * 1024)) {
    return 10;
  }
  HostRig rig;
  Host& host = rig.host;
  const std::vector<LogLine>& lines = rig.lines;
  if (const int status = host_open(&host, "urn:bexo:test:ports")) {
    std::fprintf(stderr, "open failed with %d:", status);
    for (const LogLine& line : lines) {
      std::fprintf(stderr, " [%s]", line.text.c_str());
    }
    return 11;
  }
  const auto warnings = std::count_if(lines.begin(), lines.end(), [](const LogLine& line) {
    return line.level == LOG_LEVEL_WARNING &&
           line.text == "Failed to lock ring memory; audio may drop out when memory is short";
  });
  rig.close();
  return warnings == 1 ? 0 : 12;
}

TEST(OpenMemoryLockDeathTest, RingsThatCannotBeLockedAreReportedOnce) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer runtimes make every mlock succeed";
#endif
  EXPECT_EXIT(std::exit(open_without_memory_locking()), testing::ExitedWithCode(0), "");
}

TEST_F(OpenTest, PluginThatRequiresInPlaceBrokenIsAccepted) {
  EXPECT_EQ(open("urn:bexo:test:required-in-place-broken"), 0);
}

TEST_F(OpenTest, ArgumentWithASchemeIsAUriEvenWhenSuchAFileExists) {
  TempDir dir;
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path);
  // A file whose name is the URI, holding a state for another plugin.
  write_file("urn:bexo:test:controls", state_file("urn:bexo:test:atoms", "x", 1));
  const int status = open("urn:bexo:test:controls");
  fs::current_path(previous);
  ASSERT_EQ(status, 0);
  EXPECT_STREQ(lilv_node_as_uri(lilv_plugin_get_uri(host.plugin)), "urn:bexo:test:controls");
}

TEST_F(OpenTest, StateFileOpensItsPluginWithItsValues) {
  TempDir dir;
  write_file(dir.path / "state.ttl", state_file("urn:bexo:test:controls", "gain", 1.5f));
  ASSERT_EQ(open((dir.path / "state.ttl").c_str()), 0);
  EXPECT_STREQ(lilv_node_as_uri(lilv_plugin_get_uri(host.plugin)), "urn:bexo:test:controls");
  Control* gain = find_control_by_symbol(&host.controls, "gain");
  ASSERT_NE(gain, nullptr);
  EXPECT_EQ(host.process.control_values[gain->index], 1.5f);
}

TEST_F(OpenTest, CloseRemovesTheScratchDirectoryWithThePluginsFiles) {
  ASSERT_EQ(open("urn:bexo:test:params"), 0);
  StateHost* state = &host;
  char* path = make_path(state, "sub/file.txt");
  ASSERT_NE(path, nullptr);
  write_file(path, "made by the plugin");
  std::free(path);
  ASSERT_NE(host.scratch_dir, nullptr);
  const fs::path dir = host.scratch_dir;
  ASSERT_TRUE(fs::exists(dir));

  lines.clear();
  rig.close();
  EXPECT_FALSE(fs::exists(dir));
  EXPECT_TRUE(logged(LOG_LEVEL_WARNING).empty());
}

struct SizeCase {
  const char* plugin;
  uint32_t ring_option;
  uint32_t ring_size;
  size_t min_ui_read_buf;
};

class OpenSizes : public OpenHost, public testing::WithParamInterface<SizeCase> {};

TEST_P(OpenSizes, RingsHoldSixteenOfTheLargestPortBuffer) {
  const SizeCase& c = GetParam();
  host.options.ring_size = c.ring_option;
  ASSERT_EQ(open(c.plugin), 0);
  EXPECT_EQ(host.settings.ring_size, c.ring_size);
  EXPECT_GE(host.ui_read_buf_size, c.min_ui_read_buf);
  EXPECT_GE(host.ui_read_buf_size, host.settings.midi_buf_size);
  EXPECT_EQ(zix_ring_capacity(host.process.ui_ring) + 1 >= c.ring_size, true);
}

INSTANTIATE_TEST_SUITE_P(Plugins, OpenSizes,
                         testing::Values(SizeCase{"urn:bexo:test:controls", 0, 16 * 1024, 1024},
                                         SizeCase{"urn:bexo:test:atoms", 0, 16 * 8192, 8192},
                                         SizeCase{"urn:bexo:test:ports", 0, 16 * 65536, 1024},
                                         SizeCase{"urn:bexo:test:controls", 100000, 100000, 1024}));

struct RateCase {
  double update_option;
  float refresh_rate;
  double scale_option;
  float display_scale;
  float rate;
  float scale;
};

class OpenRates : public OpenHost, public testing::WithParamInterface<RateCase> {};

TEST_P(OpenRates, UpdateRateIsClampedAndScaleTakenAsItIs) {
  const RateCase& c = GetParam();
  host.options.update_rate = c.update_option;
  host.options.scale_factor = c.scale_option;
  test_frontend().refresh_rate = c.refresh_rate;
  test_frontend().scale_factor = c.display_scale;
  ASSERT_EQ(open("urn:bexo:test:controls"), 0);
  EXPECT_FLOAT_EQ(host.settings.ui_rate_hz, c.rate);
  EXPECT_FLOAT_EQ(host.settings.ui_scale, c.scale);
}

INSTANTIATE_TEST_SUITE_P(Options, OpenRates,
                         testing::Values(RateCase{0, 144, 0, 1, 60, 1}, // display too fast
                                         RateCase{0, 0, 0, 2, 1, 2},    // display unknown
                                         RateCase{200, 30, 0.1, 1, 60, 0.1f},
                                         RateCase{0.5, 30, 8, 1, 1, 8},
                                         RateCase{25, 144, 0, 1.5, 25, 1.5}));

TEST_F(OpenTest, ControlSettingsAreAppliedInOrderAndBadOnesWarnedAbout) {
  const std::string long_symbol(241, 'g');
  std::vector<std::string> settings{
      "gain=1.5", "bogus", "=3", "gain=", "nothing=1", long_symbol + "=1", "mute=1", "gain=0.25",
  };
  std::vector<char*> list;
  for (std::string& s : settings) {
    list.push_back(s.data());
  }
  list.push_back(nullptr);
  // host_close frees the array, as the option parser made it.
  host.options.controls = static_cast<char**>(std::malloc(list.size() * sizeof(char*)));
  std::copy(list.begin(), list.end(), host.options.controls);

  ASSERT_EQ(open("urn:bexo:test:controls"), 0);
  const std::vector<std::string> info = logged(LOG_LEVEL_INFO);
  const std::vector<std::string> applied(info.end() - 3, info.end());
  EXPECT_EQ(applied,
            (std::vector<std::string>{"gain = 1.500000", "mute = 1.000000", "gain = 0.250000"}));
  EXPECT_EQ(logged(LOG_LEVEL_WARNING),
            (std::vector<std::string>{
                "Ignoring invalid value `bogus'", "Ignoring invalid value `=3'",
                "Ignoring invalid value `gain='", "Ignoring value for unknown control `nothing'",
                "Ignoring invalid value `" + long_symbol + "=1'"}));
  Control* gain = find_control_by_symbol(&host.controls, "gain");
  ASSERT_NE(gain, nullptr);
  EXPECT_EQ(control_value_to_double(&gain->value, &host.forge), 0.25);
}

struct UiCase {
  const char* native_type; ///< null: the front end has none
  const char* ui_uri;
  bool generic;
  std::vector<std::string> ui_lines; ///< info lines between "Plugin:" and "JACK name:"
  const char* chosen;
};

class OpenUi : public OpenHost, public testing::WithParamInterface<UiCase> {};

TEST_P(OpenUi, ChoosesTheFirstUiTheFrontEndCanEmbed) {
  const UiCase& c = GetParam();
  if (c.native_type) {
    test_frontend().native_ui_type = c.native_type;
  }
  host.options.ui_uri = const_cast<char*>(c.ui_uri);
  host.options.generic_ui = c.generic;
  ASSERT_EQ(open("urn:bexo:test:uis"), 0);
  host.options.ui_uri = nullptr; // not the parser's: not for host_close to free

  const std::vector<std::string> info = logged(LOG_LEVEL_INFO);
  ASSERT_GE(info.size(), 2u);
  auto jack = std::find_if(info.begin(), info.end(),
                           [](const std::string& s) { return s.rfind("JACK name:", 0) == 0; });
  EXPECT_EQ(std::vector<std::string>(info.begin() + 1, jack), c.ui_lines);
  if (c.chosen) {
    ASSERT_NE(host.ui, nullptr);
    EXPECT_STREQ(lilv_node_as_uri(lilv_ui_get_uri(host.ui)), c.chosen);
    EXPECT_STREQ(lilv_node_as_uri(host.ui_type), "urn:bexo:test:ui#TestUI");
  } else {
    EXPECT_EQ(host.ui, nullptr);
  }
}

constexpr const char* test_ui = "urn:bexo:test:ui#TestUI";

INSTANTIATE_TEST_SUITE_P(
    Choices, OpenUi,
    testing::Values(UiCase{test_ui,
                           nullptr,
                           false,
                           {"Ignoring incompatible UI <urn:bexo:test:uis#a-foreign>",
                            "Ignored UI type <http://lv2plug.in/ns/extensions/ui#X11UI>",
                            "UI: urn:bexo:test:uis#b-native"},
                           "urn:bexo:test:uis#b-native"},
                    UiCase{test_ui,
                           "urn:bexo:test:uis#d-resizable",
                           false,
                           {"UI: urn:bexo:test:uis#d-resizable"},
                           "urn:bexo:test:uis#d-resizable"},
                    UiCase{
                        test_ui, "urn:bexo:test:uis#a-foreign", true, {}, nullptr}, // generic wins
                    UiCase{nullptr, nullptr, false, {}, nullptr}));

} // namespace
