// The programs as a user runs them while the JACK server stops under them:
// frozen for two seconds and then in short bursts (an xrun storm), each
// program keeps running and plays its plugin's gain again, frame by frame;
// and a preset chosen from bexo-qt's menu while the server is frozen gives
// up after three seconds, the window still answers, and once the server
// runs again the same choice restores the preset.

#include "harness/played_gain.hpp"
#include "jack_server.hpp"
#include "programs.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

bool still_running(pid_t pid) {
  return waitpid(pid, nullptr, WNOHANG) == 0;
}

TEST(ServerFreeze, EachProgramOutlivesAnXrunStormAndPlaysItsGainAgain) {
  const pid_t server = jack_server_pid();
  ASSERT_GT(server, 0) << "no private server to freeze";
  for (const Program& program : all_programs) {
    SCOPED_TRACE(program.name);
    const std::vector<std::string> before = jack_ports();
    // The preset sets the gain to 0.5, which the check can tell from 1.
    const std::unique_ptr<ProgramRun> run = start(program, "urn:bexo:test:controls#preset-soft");
    ASSERT_GT(run->pid, 0);
    const std::string client = new_client_with(before, "out_l");
    ASSERT_FALSE(client.empty()) << "the plugin never ran";
    expect_plays_times(client, 0.5f);

    freeze_for(server, 2s);
    for (int i = 0; i < 10; ++i) {
      std::this_thread::sleep_for(100ms);
      freeze_for(server, 100ms);
    }
    const size_t ticks = count_lines(*run, "tick");
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(still_running(run->pid)) << run->output();
    if (program.scripted) {
      EXPECT_GT(count_lines(*run, "tick"), ticks) << "the event loop stopped";
    }
    expect_plays_times(client, 0.5f);
    EXPECT_EQ(run->terminate(), 0) << run->output();
    EXPECT_TRUE(ports_back_to(before)) << "the run left JACK ports behind";
  }
}

// A directory of bundles for LV2_PATH: the controls fixture and one preset
// of it, so that bexo-qt's Presets menu holds that preset alone.
class OnePresetPath {
public:
  OnePresetPath() {
    std::string pattern = (fs::temp_directory_path() / "bexo-faults-lv2-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      return;
    }
    dir = pattern;
    fs::create_directory_symlink(BEXO_FIXTURE_LV2_DIR "/bexo-controls.lv2",
                                 dir / "bexo-controls.lv2");
    const fs::path bundle = dir / "faults-quarter.lv2";
    fs::create_directory(bundle);
    const std::string prefixes = "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                                 "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                                 "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
    std::ofstream(bundle / "manifest.ttl")
        << prefixes << "<urn:bexo:test:faults#quarter> a pset:Preset ;\n"
        << "  lv2:appliesTo <urn:bexo:test:controls> ;\n  rdfs:seeAlso <quarter.ttl> .\n";
    std::ofstream(bundle / "quarter.ttl")
        << prefixes << "<urn:bexo:test:faults#quarter> a pset:Preset ;\n"
        << "  lv2:appliesTo <urn:bexo:test:controls> ;\n  rdfs:label \"Quarter\" ;\n"
        << "  lv2:port [ lv2:symbol \"gain\" ; pset:value 0.25 ] .\n";
  }
  ~OnePresetPath() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  fs::path dir;
};

// The Presets menu by its mnemonic, and its first entry.
void choose_first_preset(const std::string& window) {
  focus(window);
  press_keys("alt+p");
  std::this_thread::sleep_for(400ms);
  press_keys("Return");
}

bool logged(const ProgramRun& run, const std::string& text) {
  return run.output().find(text) != std::string::npos;
}

TEST(ServerFreeze, APresetChosenInBexoQtWhileTheServerIsFrozenGivesUpAndWorksLater) {
  const pid_t server = jack_server_pid();
  ASSERT_GT(server, 0) << "no private server to freeze";
  OnePresetPath path;
  ASSERT_FALSE(path.dir.empty());
  const std::vector<std::string> before = jack_ports();
  ProgramRun run(BEXO_QT_PATH, {"urn:bexo:test:controls"}, {"LV2_PATH=" + path.dir.string()}, true);
  ASSERT_GT(run.pid, 0);
  const std::string window = window_of("Bexo Test Controls");
  ASSERT_FALSE(window.empty());
  const std::string client = new_client_with(before, "out_l");
  ASSERT_FALSE(client.empty());
  expect_plays_times(client, 1.0f);

  {
    ServerFreeze freeze(server);
    ASSERT_TRUE(freeze.frozen());
    const auto start = std::chrono::steady_clock::now();
    choose_first_preset(window);
    ASSERT_TRUE(soon([&] { return logged(run, gave_up_restoring); }, 8s)) << run.output();
    const double waited = seconds_since(start);
    EXPECT_GE(waited, 2.5);
    EXPECT_LT(waited, 5.0) << "the restore did not give up in time";

    // The window still answers: Save As opens its dialog, and closes.
    const std::vector<std::string> windows = windows_of_pid(run.pid, 0ms);
    focus(window);
    press_keys("ctrl+shift+a");
    std::string dialog;
    EXPECT_TRUE(soon([&] {
      for (const std::string& w : windows_of_pid(run.pid, 0ms)) {
        if (std::find(windows.begin(), windows.end(), w) == windows.end()) {
          dialog = w;
        }
      }
      return !dialog.empty();
    })) << "the main loop did not answer while the server was frozen";
    if (!dialog.empty()) {
      focus(dialog); // no window manager gives it the keyboard
      press_keys("Escape");
      EXPECT_TRUE(soon([&] { return windows_of_pid(run.pid, 0ms).size() == windows.size(); }));
    }
  }

  // Once the server runs the plugin plays again, as it was.
  std::this_thread::sleep_for(300ms);
  {
    SCOPED_TRACE("after the server ran again");
    expect_plays_times(client, 1.0f);
  }
  choose_first_preset(window);
  std::this_thread::sleep_for(300ms);
  {
    SCOPED_TRACE("after the preset was chosen again");
    expect_plays_times(client, 0.25f);
  }
  EXPECT_EQ(run.output().find("Gave up", run.output().find(gave_up_restoring) + 1),
            std::string::npos)
      << "the second choice gave up too";
  EXPECT_EQ(run.terminate(), 0) << run.output();
  EXPECT_TRUE(ports_back_to(before));
}

} // namespace
