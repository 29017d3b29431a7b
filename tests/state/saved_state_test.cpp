// The whole state saved into a directory of the user's and opened from it
// again: every value, the plugin's own state and the file it made come back
// after the run that saved them is gone; a save that fails (no room, no
// permission) leaves what was there byte for byte; files of the user's in
// the directory are kept.

#include "base/log.hpp"
#include "frontend/test_frontend.hpp"
#include "harness/files.hpp"
#include "harness/host_rig.hpp"
#include "harness/wait_for.hpp"
#include "state/params_values.hpp"
#include "state/saved_state.hpp"
#include "state/state.hpp"
#include "state/state_support.hpp"

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Every file under `dir` with its contents.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), dir).string()] = read_text(entry.path().string());
    }
  }
  return files;
}

class SavedState : public testing::TestWithParam<const char*> {
protected:
  void SetUp() override { test_frontend_reset(); }

  // Opens `arg` and runs it, with `values` sent unless it is null.
  void open_running(HostRig& rig, const char* arg, const ParamsValues* values) {
    ASSERT_EQ(rig.open_manual(arg), 0);
    ASSERT_EQ(rig.activate(), 0);
    rig.start_cycles();
    if (values) {
      ASSERT_EQ(send_params_values(rig, *values), 0);
      ASSERT_TRUE(wait_for_params_values(rig, *values)) << params_difference(rig, *values);
    }
  }

  // Saves `values` of the plugin into `target` from a run of its own.
  void save(const ParamsValues& values) {
    HostRig rig;
    ASSERT_NO_FATAL_FAILURE(open_running(rig, GetParam(), &values));
    ASSERT_EQ(save_state(&rig.host, target.c_str()), 0) << rig.lines.back().text;
  }

  // Runs `save` in a child process with `limit`; true when the save failed
  // there and said so.
  bool save_fails_in_child(const std::function<void()>& limit) {
    HostRig rig;
    EXPECT_EQ(rig.open_manual(GetParam()), 0);
    const pid_t child = fork();
    if (child == 0) {
      limit();
      const int status = save_state(&rig.host, target.c_str());
      _exit(status != 0 && rig.logged(LOG_LEVEL_ERROR, "Failed to save the state to") ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  const TempHome home;
  const TempDir parent;
  const std::string target = parent.file("my state");
};

TEST_P(SavedState, EverythingComesBackFromTheDirectoryAfterTheSavingRunIsGone) {
  ASSERT_NO_FATAL_FAILURE(save(saved_values));
  EXPECT_EQ(saved_state_dir_kind(target.c_str()), STATE_DIR_SAVED);
  // The file the plugin made while saving is inside the directory.
  EXPECT_EQ(read_text(target + "/note.txt"), "saved text");
  EXPECT_EQ(std::distance(fs::directory_iterator(parent.path()), fs::directory_iterator()), 1)
      << "nothing left beside it";

  for (const std::string& arg : {target, target + "/state.ttl"}) {
    HostRig rig;
    ASSERT_NO_FATAL_FAILURE(open_running(rig, arg.c_str(), nullptr));
    EXPECT_TRUE(wait_for_params_values(rig, saved_values)) << params_difference(rig, saved_values);
  }
}

// The mode of a directory, or -1.
int mode_of(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 07777) : -1;
}

TEST_P(SavedState, ASecondSaveReplacesTheStateAndKeepsTheUsersOwnFilesAndPermissions) {
  const mode_t mask = umask(022);
  ASSERT_NO_FATAL_FAILURE(save(saved_values));
  EXPECT_EQ(mode_of(target), 0755) << "a new directory as any other the user makes";
  std::ofstream(target + "/my notes.txt") << "mine";
  chmod(target.c_str(), 0750);
  ASSERT_NO_FATAL_FAILURE(save(changed_values));
  umask(mask);
  EXPECT_EQ(mode_of(target), 0750);
  EXPECT_EQ(read_text(target + "/my notes.txt"), "mine");
  HostRig rig;
  ASSERT_NO_FATAL_FAILURE(open_running(rig, target.c_str(), nullptr));
  EXPECT_TRUE(wait_for_params_values(rig, changed_values))
      << params_difference(rig, changed_values);
}

TEST_P(SavedState, ADirectoryOfOtherFilesIsJoinedWithoutReplacingAny) {
  fs::create_directory(target);
  std::ofstream(target + "/keep.txt") << "kept";
  ASSERT_NO_FATAL_FAILURE(save(saved_values));
  EXPECT_EQ(read_text(target + "/keep.txt"), "kept");
  EXPECT_EQ(saved_state_dir_kind(target.c_str()), STATE_DIR_SAVED);

  const TempDir other;
  std::ofstream(other.file("state.ttl")) << "not a state of ours";
  HostRig rig;
  ASSERT_EQ(rig.open_manual(GetParam()), 0);
  EXPECT_NE(save_state(&rig.host, other.path().c_str()), 0);
  EXPECT_TRUE(rig.logged(LOG_LEVEL_ERROR, "state.ttl is there already"));
  EXPECT_EQ(read_text(other.file("state.ttl")), "not a state of ours");
}

TEST_P(SavedState, AFailedSaveLeavesThePreviousStateByteForByte) {
  ASSERT_NO_FATAL_FAILURE(save(saved_values));
  const auto before = snapshot(target);
  // No room: files may not grow beyond a few bytes.
  EXPECT_TRUE(save_fails_in_child([] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{64, 64};
    setrlimit(RLIMIT_FSIZE, &small);
  }));
  EXPECT_EQ(snapshot(target), before);
  if (geteuid() == 0) {
    // No permission: as a user who may read the directory but not write.
    chmod(parent.path().c_str(), 0755);
    EXPECT_TRUE(save_fails_in_child([] {
      if (setuid(65534) != 0) {
        _exit(2);
      }
    }));
    EXPECT_EQ(snapshot(target), before);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(parent.path()), fs::directory_iterator()), 1)
      << "no half-written state left beside it";
  HostRig rig;
  ASSERT_NO_FATAL_FAILURE(open_running(rig, target.c_str(), nullptr));
  EXPECT_TRUE(wait_for_params_values(rig, saved_values)) << params_difference(rig, saved_values);
}

INSTANTIATE_TEST_SUITE_P(Params, SavedState,
                         testing::Values("urn:bexo:test:params", "urn:bexo:test:params-tsr"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return info.index ? "ThreadSafe" : "Paused";
                         });

// The plugin's whole state as lilv captures it now, in Turtle, with the
// files it refers to linked into `where`.
std::string captured_state(HostRig& rig, const std::string& where) {
  LV2_URID_Map* map = urid_mapper_get_map(rig.host.urid_mapper);
  const std::string dir = where + "/";
  LilvState* state = capture_state(&rig.host, dir.c_str());
  if (!state) {
    return "";
  }
  char* text =
      lilv_state_to_string(rig.host.world, map, urid_mapper_get_unmap(rig.host.urid_mapper), state,
                           "urn:bexo:test:captured", nullptr);
  // eg-params' LFO runs on by itself: its reading is no state to compare.
  std::string result;
  std::istringstream lines(text ? text : "");
  for (std::string line; std::getline(lines, line);) {
    if (line.find("eg-params#lfo>") == std::string::npos) {
      result += line + "\n";
    }
  }
  lilv_free(text);
  lilv_state_free(state);
  return result;
}

// Real plugins with a state of their own: eg-sampler's is the path of its
// sample, eg-params' its parameters.  Every control input is moved off its
// default before the save.  (synthv1 is saved and reopened by the
// programs themselves, in processes of their own: two of its instances one
// after the other in one process crash in a thread of its own.)
TEST(SavedStateOfRealPlugins, EveryControlAndThePluginsOwnStateComeBack) {
  for (const char* plugin :
       {"http://lv2plug.in/plugins/eg-sampler", "http://lv2plug.in/plugins/eg-params"}) {
    test_frontend_reset();
    const TempHome home;
    const TempDir parent;
    const std::string dir = parent.file("saved");
    const TempDir capture;
    std::vector<float> saved;
    std::string before;
    {
      HostRig rig;
      ASSERT_EQ(rig.open_manual(plugin), 0) << plugin;
      for (const Port& port : rig.host.ports) {
        if (port.type == TYPE_CONTROL && port.flow == FLOW_INPUT) {
          const Control* c = find_port_control(&rig.host.controls, port.index);
          if (c && !std::isnan(c->min) && !std::isnan(c->max)) {
            rig.host.process.control_values[port.index] = c->min + (c->max - c->min) * 0.25f;
          }
        }
      }
      saved = rig.host.process.control_values;
      if (rig.property("http://lv2plug.in/plugins/eg-params#int")) {
        // A parameter of the plugin's own, set as a UI sets it.  The cycles
        // run on this thread: eg-params saves its state with no care for a
        // run() going on meanwhile.
        ASSERT_EQ(rig.activate(), 0);
        const int32_t seven = 7;
        ASSERT_EQ(rig.send_property("http://lv2plug.in/plugins/eg-params#int", sizeof(seven),
                                    rig.host.forge.Int, &seven),
                  0);
        rig.cycle();
        ASSERT_NE(captured_state(rig, capture.path()).find("eg-params#int> \"7\""),
                  std::string::npos);
      }
      before = captured_state(rig, capture.path());
      ASSERT_EQ(save_state(&rig.host, dir.c_str()), 0) << plugin;
    }
    HostRig rig;
    ASSERT_EQ(rig.open_manual(dir.c_str()), 0) << plugin;
    EXPECT_STREQ(lilv_node_as_uri(lilv_plugin_get_uri(rig.host.plugin)), plugin);
    for (const Port& port : rig.host.ports) {
      if (port.type == TYPE_CONTROL && port.flow == FLOW_INPUT) {
        EXPECT_EQ(rig.host.process.control_values[port.index], saved[port.index])
            << plugin << " port " << port.index;
      }
    }
    // eg-sampler takes its sample in a cycle, once its worker has loaded it;
    // cycles on this thread again, for the same reason.
    ASSERT_EQ(rig.activate(), 0);
    EXPECT_TRUE(wait_for([&] {
      rig.cycle();
      return captured_state(rig, capture.path()) == before;
    })) << plugin
        << ": " << before << "\nnow: " << captured_state(rig, capture.path());
    if (std::string(plugin).find("eg-params") != std::string::npos) {
      EXPECT_NE(before.find("eg-params#int> \"7\""), std::string::npos) << before;
    }
  }
}

TEST(SavedStateDir, TellsAStateFromOtherThings) {
  const TempDir dir;
  EXPECT_EQ(saved_state_dir_kind(dir.file("missing").c_str()), STATE_DIR_NONE);
  EXPECT_EQ(saved_state_dir_kind(dir.path().c_str()), STATE_DIR_NONE) << "empty";
  std::ofstream(dir.file("a.txt")) << "a";
  EXPECT_EQ(saved_state_dir_kind(dir.path().c_str()), STATE_DIR_OTHER);
  EXPECT_EQ(saved_state_dir_kind(dir.file("a.txt").c_str()), STATE_DIR_NOT_A_DIR);
  std::ofstream(dir.file("manifest.ttl")) << "";
  std::ofstream(dir.file("state.ttl")) << "";
  EXPECT_EQ(saved_state_dir_kind(dir.path().c_str()), STATE_DIR_SAVED);
  EXPECT_EQ(saved_state_file(dir.path().c_str()), dir.file("state.ttl"));
}

// The host's own facts go with the state and come back from it, whichever
// way a writer spells the property; lilv still opens such a state.
TEST(SavedStateFlags, ComeBackWithTheStateAndAreMissingWhereNoneWasSaved) {
  const TempDir dir;
  constexpr char visible[] = "urn:bexo:test:visible";
  constexpr char other[] = "urn:bexo:test:other";
  for (const bool value : {true, false}) {
    HostRig rig;
    ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
    const SavedStateFlag flags[] = {{visible, value}};
    ASSERT_EQ(save_state(&rig.host, dir.file("saved").c_str(), flags), 0);
    bool read = !value;
    EXPECT_EQ(saved_state_flag(dir.file("saved").c_str(), visible, &read), 0);
    EXPECT_EQ(read, value);
    EXPECT_EQ(saved_state_flag(dir.file("saved").c_str(), other, &read), 1);
    HostRig again;
    EXPECT_EQ(again.open_manual(dir.file("saved").c_str()), 0) << "lilv cannot read it";
  }
  bool read = false;
  EXPECT_EQ(saved_state_flag(dir.file("missing").c_str(), visible, &read), 1);

  const std::string written = dir.file("written");
  fs::create_directory(written);
  std::ofstream(written + "/manifest.ttl") << "";
  std::ofstream(written + "/state.ttl")
      << "@prefix t: <urn:bexo:test:> .\n<> t:visible true ; t:other false .\n";
  EXPECT_EQ(saved_state_flag(written.c_str(), visible, &read), 0);
  EXPECT_TRUE(read);
  EXPECT_EQ(saved_state_flag(written.c_str(), other, &read), 0);
  EXPECT_FALSE(read);
}

} // namespace
