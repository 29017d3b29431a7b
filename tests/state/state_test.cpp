// Saving and restoring the plugin's state: round trips of every value, a
// bundle written by another process, a real plugin's file path, the scratch
// directory, and listing and erasing presets.

#include "frontend/test_frontend.hpp"
#include "harness/host_rig.hpp"
#include "state/params_values.hpp"
#include "state/state.hpp"
#include "state/state_support.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Opens a plugin and runs it, as the program does once its front end is up.
void open_running(HostRig& rig, const char* plugin) {
  ASSERT_EQ(rig.open_manual(plugin), 0);
  ASSERT_EQ(rig.activate(), 0);
  rig.start_cycles();
}

// ---------------------------------------------------------------------------
// The full round trip, with and without thread-safe restore.

class RoundTrip : public testing::TestWithParam<const char*> {
protected:
  void SetUp() override { test_frontend_reset(); }
  TempHome home;
};

TEST_P(RoundTrip, EveryPortValueAndPropertyComesBackAndTheFileGoesThroughTheScratchDirectory) {
  HostRig rig;
  ASSERT_NO_FATAL_FAILURE(open_running(rig, GetParam()));
  ASSERT_EQ(send_params_values(rig, saved_values), 0);
  ASSERT_TRUE(wait_for_params_values(rig, saved_values)) << params_difference(rig, saved_values);
  const Control* count = rig.property(param("count").c_str());
  const double saved_count = control_value_to_double(&count->value, &rig.host.forge);
  EXPECT_EQ(saved_count, 8.0);

  TempDir first;
  ASSERT_EQ(store_preset(&rig.host, first.path().c_str(), nullptr, "Round trip", "state.ttl"), 0);
  ASSERT_NE(rig.host.preset, nullptr);
  EXPECT_STREQ(lilv_state_get_label(rig.host.preset), "Round trip");
  // The plugin made its file in the bundle while saving.
  EXPECT_EQ(read_text(first.file("note.txt")), "saved text");
  EXPECT_TRUE(fs::exists(first.file("manifest.ttl")));

  ASSERT_EQ(send_params_values(rig, changed_values), 0);
  ASSERT_TRUE(wait_for_params_values(rig, changed_values))
      << params_difference(rig, changed_values);

  load_bundle(rig, first.path());
  const LilvNodePtr first_uri(lilv_node_duplicate(lilv_state_get_uri(rig.host.preset)));
  test_frontend().shown.clear();
  ASSERT_EQ(restore_preset(&rig.host, first_uri.get()), 0);
  ASSERT_TRUE(wait_for_params_values(rig, saved_values)) << params_difference(rig, saved_values);
  EXPECT_EQ(control_value_to_double(&count->value, &rig.host.forge), saved_count);
  // Every restored port value reached the controls and the front end.
  for (const char* symbol : {"gain", "mix", "depth"}) {
    const Control* control = rig.control(symbol);
    const float value = rig.host.process.control_values[control->index];
    EXPECT_EQ(control_value_to_double(&control->value, &rig.host.forge), value) << symbol;
    EXPECT_TRUE(shown_from_plugin(control, value)) << symbol;
  }

  // Restoring made the plugin's working copy in the scratch directory...
  ASSERT_NE(rig.host.scratch_dir, nullptr);
  EXPECT_EQ(read_text(std::string(rig.host.scratch_dir) + "/work-note.txt"), "saved text");
  // ...which the next save copies into its bundle.
  TempDir second;
  ASSERT_EQ(store_preset(&rig.host, second.path().c_str(), nullptr, nullptr, "again.ttl"), 0);
  EXPECT_EQ(lilv_state_get_label(rig.host.preset), nullptr);
  EXPECT_EQ(read_text(second.file("work-note.txt")), "saved text");
  EXPECT_EQ(read_text(second.file("again.ttl")).find(rig.host.scratch_dir), std::string::npos);

  ASSERT_EQ(send_params_values(rig, changed_values), 0);
  ASSERT_TRUE(wait_for_params_values(rig, changed_values))
      << params_difference(rig, changed_values);
  load_bundle(rig, second.path());
  // A null URI lets lilv name the state after its file; restoring the
  // current preset by its own URI makes a fresh state of it.
  const std::string second_uri = lilv_node_as_uri(lilv_state_get_uri(rig.host.preset));
  EXPECT_EQ(second_uri.substr(second_uri.size() - 9), "again.ttl");
  ASSERT_EQ(restore_preset(&rig.host, lilv_state_get_uri(rig.host.preset)), 0);
  ASSERT_TRUE(wait_for_params_values(rig, saved_values)) << params_difference(rig, saved_values);
}

INSTANTIATE_TEST_SUITE_P(Params, RoundTrip,
                         testing::Values("urn:bexo:test:params", "urn:bexo:test:params-tsr"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return info.index ? "ThreadSafe" : "Paused";
                         });

TEST(SavedBundle, LoadsInAnotherProcessAfterTheWriterExited) {
  test_frontend_reset();
  const TempHome home; // the writer inherits it
  TempDir dir;
  const char* argv[] = {BEXO_STATE_WRITER, "urn:bexo:test:params", dir.path().c_str(),
                        "written.ttl", nullptr};
  pid_t pid = 0;
  ASSERT_EQ(
      posix_spawn(&pid, BEXO_STATE_WRITER, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:params"), 0);
  LilvState* state =
      lilv_state_new_from_file(rig.host.world, urid_mapper_get_map(rig.host.urid_mapper), nullptr,
                               dir.file("written.ttl").c_str());
  ASSERT_NE(state, nullptr);
  EXPECT_STREQ(lilv_node_as_uri(lilv_state_get_plugin_uri(state)), "urn:bexo:test:params");
  EXPECT_STREQ(lilv_state_get_label(state), "Written");
  EXPECT_EQ(lilv_state_get_num_properties(state), 9u);

  ASSERT_EQ(rig.activate(), 0);
  rig.start_cycles();
  EXPECT_EQ(restore_state(&rig.host, state), 0);
  lilv_state_free(state);
  EXPECT_TRUE(wait_for_params_values(rig, saved_values)) << params_difference(rig, saved_values);
}

// A short 16-bit mono wave file.
void write_wave(const std::string& path) {
  std::ofstream wav(path, std::ios::binary);
  const uint32_t frames = 64;
  const auto put32 = [&wav](uint32_t v) { wav.write(reinterpret_cast<const char*>(&v), 4); };
  const auto put16 = [&wav](uint16_t v) { wav.write(reinterpret_cast<const char*>(&v), 2); };
  wav << "RIFF";
  put32(36 + frames * 2);
  wav << "WAVEfmt ";
  put32(16);
  put16(1);
  put16(1);
  put32(48000);
  put32(96000);
  put16(2);
  put16(16);
  wav << "data";
  put32(frames * 2);
  for (uint32_t i = 0; i < frames; ++i) {
    put16(static_cast<uint16_t>(i * 100));
  }
}

TEST(RealPlugin, TheSamplersPathSurvivesTheRoundTrip) {
  test_frontend_reset();
  const TempHome home;
  TempDir samples;
  const std::string custom = samples.file("custom.wav");
  write_wave(custom);

  HostRig rig;
  ASSERT_EQ(rig.open_manual("http://lv2plug.in/plugins/eg-sampler"), 0);
  EXPECT_TRUE(rig.host.thread_safe_restore);
  ASSERT_NE(rig.host.process.state_worker, nullptr);
  ASSERT_EQ(rig.activate(), 0);
  rig.start_cycles();
  const char* sample_uri = "http://lv2plug.in/plugins/eg-sampler#sample";
  const Control* sample = rig.property(sample_uri);
  ASSERT_NE(sample, nullptr);
  const auto holds = [&](const std::string& path) {
    return rig.update_until([&] {
      if (sample->value.type != rig.host.forge.Path || !sample->value.size) {
        return false;
      }
      std::error_code error;
      const char* got = static_cast<const char*>(control_value_body(&sample->value));
      return fs::equivalent(got, path, error);
    });
  };
  const auto set_sample = [&](const std::string& path) {
    return rig.send_property(sample_uri, static_cast<uint32_t>(path.size() + 1),
                             rig.host.forge.Path, path.c_str());
  };

  ASSERT_EQ(set_sample(custom), 0);
  ASSERT_TRUE(holds(custom));
  TempDir bundle;
  ASSERT_EQ(store_preset(&rig.host, bundle.path().c_str(), nullptr, "Custom", "sampler.ttl"), 0);

  char* bundle_dir = lilv_node_get_path(lilv_plugin_get_bundle_uri(rig.host.plugin), nullptr);
  const std::string click = std::string(bundle_dir) + "click.wav";
  lilv_free(bundle_dir);
  ASSERT_EQ(set_sample(click), 0);
  ASSERT_TRUE(holds(click));

  load_bundle(rig, bundle.path());
  const LilvNodePtr uri(lilv_node_duplicate(lilv_state_get_uri(rig.host.preset)));
  ASSERT_EQ(restore_preset(&rig.host, uri.get()), 0);
  EXPECT_TRUE(holds(custom));
}

// ---------------------------------------------------------------------------
// Scratch directory, presets.

TEST(MakePath, PathsShareOneScratchDirectoryMadeOnFirstUse) {
  test_frontend_reset();
  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
  StateHost* state = &rig.host;
  EXPECT_EQ(state->scratch_dir, nullptr);

  // Where no directory can be made, the plugin gets no path, and the next
  // call tries again.
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string saved_tmpdir = tmpdir ? tmpdir : "";
  setenv("TMPDIR", "/nonexistent/bexo", 1);
  EXPECT_EQ(make_path(state, "a.txt"), nullptr);
  EXPECT_TRUE(rig.logged(LOG_LEVEL_WARNING, "Failed to create scratch directory"));
  EXPECT_EQ(state->scratch_dir, nullptr);
  if (tmpdir) {
    setenv("TMPDIR", saved_tmpdir.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }

  char* a = make_path(state, "a.txt");
  ASSERT_NE(a, nullptr);
  const std::string scratch = state->scratch_dir;
  EXPECT_NE(fs::path(scratch).filename().string().find("bexo"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(scratch));
  char* b = make_path(state, "sub/dir/b.txt");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(state->scratch_dir, scratch);
  EXPECT_EQ(std::string(a), scratch + "/a.txt");
  EXPECT_EQ(std::string(b), scratch + "/sub/dir/b.txt");
  // The plugin can create the file at once.
  EXPECT_TRUE(static_cast<bool>(std::ofstream(b)));
  std::free(a);
  std::free(b);
}

TEST(Presets, LabelledPresetsReachTheSinkAndAnUnlabelledOneIsWarnedAbout) {
  test_frontend_reset();
  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
  std::vector<std::pair<std::string, std::string>> listed;
  scan_presets(
      &rig.host,
      [](StateHost*, const LilvNode* preset, const LilvNode* label, void* data) {
        static_cast<std::vector<std::pair<std::string, std::string>>*>(data)->emplace_back(
            lilv_node_as_uri(preset), lilv_node_as_string(label));
        return 0;
      },
      &listed);
  std::sort(listed.begin(), listed.end());
  const std::string ns = "urn:bexo:test:controls#preset-";
  EXPECT_EQ(listed, (std::vector<std::pair<std::string, std::string>>{{ns + "loud", "Loud"},
                                                                      {ns + "plain", "Plain"},
                                                                      {ns + "round", "Round"},
                                                                      {ns + "soft", "Soft"}}));
  EXPECT_TRUE(rig.logged(LOG_LEVEL_WARNING, "Preset <" + ns + "unlabelled> has no rdfs:label"));

  // Banks: two presets in one, one in another, one in none.
  std::vector<std::string> banks;
  for (const auto& [uri, label] : listed) {
    const LilvNodePtr bank(lilv_world_get(rig.host.world, uri_node(rig, uri).get(),
                                          rig.host.nodes.pset_bank, nullptr));
    banks.push_back(bank ? lilv_node_as_uri(bank.get()) : "");
  }
  std::sort(banks.begin(), banks.end());
  EXPECT_EQ(banks, (std::vector<std::string>{"", "urn:bexo:test:controls#bank-bright",
                                             "urn:bexo:test:controls#bank-warm",
                                             "urn:bexo:test:controls#bank-warm"}));

  // What is not a state makes no preset.
  EXPECT_EQ(restore_preset(&rig.host, uri_node(rig, "urn:bexo:test:no-such-preset").get()), -1);
  EXPECT_EQ(rig.host.preset, nullptr);
}

TEST(Presets, ErasingTheCurrentPresetRemovesItsFileAndManifestEntryOnly) {
  test_frontend_reset();
  const TempHome home;
  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
  EXPECT_EQ(erase_current_preset(&rig.host), 1);

  TempDir dir;
  ASSERT_EQ(store_preset(&rig.host, dir.path().c_str(), "urn:bexo:test:kept", "Kept", "kept.ttl"),
            0);
  ASSERT_EQ(store_preset(&rig.host, dir.path().c_str(), "urn:bexo:test:gone", "Gone", "gone.ttl"),
            0);
  load_bundle(rig, dir.path());
  ASSERT_EQ(restore_preset(&rig.host, uri_node(rig, "urn:bexo:test:gone").get()), 0);
  ASSERT_TRUE(fs::exists(dir.file("gone.ttl")));
  ASSERT_NE(read_text(dir.file("manifest.ttl")).find("urn:bexo:test:gone"), std::string::npos);

  EXPECT_EQ(erase_current_preset(&rig.host), 0);
  EXPECT_EQ(rig.host.preset, nullptr);
  EXPECT_FALSE(fs::exists(dir.file("gone.ttl")));
  const std::string manifest = read_text(dir.file("manifest.ttl"));
  EXPECT_EQ(manifest.find("urn:bexo:test:gone"), std::string::npos);
  EXPECT_NE(manifest.find("urn:bexo:test:kept"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir.file("kept.ttl")));
  EXPECT_EQ(erase_current_preset(&rig.host), 1);
}

} // namespace
