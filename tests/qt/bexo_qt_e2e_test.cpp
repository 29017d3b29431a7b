// bexo-qt end to end, under the test display and the private JACK server:
// what a user starting it sees, and the ways to end it.  Screenshots go to
// the build's artifacts directory.

#include "harness/desktop.hpp"

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// bexo-qt started with a home of its own, so nothing it saves reaches the
// user's.
struct BexoQtRun : ProgramRun {
  explicit BexoQtRun(const std::vector<std::string>& args,
                     const std::vector<std::string>& extra_env = {}, bool capture = false)
      : ProgramRun(BEXO_QT_PATH, args, extra_env, capture) {}
};

TEST(BexoQt, WithoutAnArgumentItExitsWithOneAndNoWindow) {
  BexoQtRun run({});
  const pid_t pid = run.pid;
  ASSERT_GT(pid, 0);
  EXPECT_EQ(run.exit_status(), 1);
}

// Help and the version are answered on a console, without a display,
// wherever they stand among Qt's options, and open nothing.
TEST(BexoQt, HelpAndVersionArePrintedWithoutADisplayInsteadOfOpeningAnything) {
  const std::string program = "env -u DISPLAY -u WAYLAND_DISPLAY " BEXO_QT_PATH;
  const std::string version = "bexo-qt " BEXO_VERSION "\nstatus 0";
  struct Case {
    const char* args;
    std::string expected; ///< The whole output, or a part of it.
    bool whole;
  } const cases[] = {
      {"--version", version, true},
      {"-V urn:bexo:test:controls", version, true},
      {"-style fusion --version", version, true},
      {"--help", "[options] PLUGIN_STATE\n", false},
      {"-h", "-V, --version  Print the version and exit.", false},
      {"urn:bexo:test:controls --help", "-h, --help     Print this help and exit.", false},
      {"-platform offscreen --help", "A plugin URI, a preset URI, a state file", false},
  };
  for (const Case& c : cases) {
    const std::string out = shell(program + " " + c.args + " 2>&1; echo status $?");
    if (c.whole) {
      EXPECT_EQ(out, c.expected) << c.args;
    } else {
      EXPECT_NE(out.find(c.expected), std::string::npos) << c.args << ":\n" << out;
      EXPECT_TRUE(out.ends_with("\nstatus 0")) << c.args << ":\n" << out;
    }
  }
}

// An option nobody knows is refused by name instead of being opened as a
// state; after "--" a name starting with "-" is the argument, and
// arguments after the first are ignored as before.
TEST(BexoQt, UnknownOptionsAreRefusedAndDoubleDashEndsTheOptions) {
  {
    BexoQtRun run({"--bogus", "urn:bexo:test:controls"}, {}, true);
    EXPECT_EQ(run.exit_status(), 1);
    EXPECT_NE(run.output().find("error: Unknown option 'bogus'."), std::string::npos)
        << run.output();
  }
  {
    BexoQtRun run({"--", "-no-such-state"}, {}, true);
    EXPECT_EQ(run.exit_status(), 1);
    EXPECT_NE(run.output().find("Failed to load state \"-no-such-state\""), std::string::npos)
        << run.output();
  }
  BexoQtRun run({"-style", "fusion", "urn:bexo:test:controls", "--bogus", "extra"});
  ASSERT_FALSE(window_of("Bexo Test Controls").empty());
  EXPECT_EQ(run.terminate(), 0);
}

TEST(BexoQt, AnAudioClientThatCannotBeActivatedEndsTheRunWithOneAndSaysWhy) {
  // Without sound the run would be useless: it must not go on silently.
  BexoQtRun run({"urn:bexo:test:controls"}, {"LD_PRELOAD=" BEXO_REFUSED_ACTIVATION}, true);
  ASSERT_GT(run.pid, 0);
  const int status = run.exit_status();
  const std::string output = run.output();
  EXPECT_NE(output.find("error: Failed to activate the audio client\n"), std::string::npos)
      << output;
  EXPECT_EQ(status, 1) << output;
}

TEST(BexoQt, ControlsFixtureOpensTheGenericPanelAndEndsOnSigint) {
  BexoQtRun run({"urn:bexo:test:controls"});
  const pid_t pid = run.pid;
  ASSERT_GT(pid, 0);
  const std::string window = window_of("Bexo Test Controls");
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(500ms);
  const Geometry g = geometry_of(window);
  EXPECT_GE(g.width, 800);
  EXPECT_GT(g.height, 600); // the scroll area's 600 and the menu bar
  screenshot(window, "bexo-qt-controls-panel", BEXO_ARTIFACTS_DIR);
  kill(pid, SIGINT);
  EXPECT_EQ(run.exit_status(), 0);
}

TEST(BexoQt, PluginsOwnQtUiIsEmbeddedFixedOrResizableAsItSays) {
  struct Case {
    const char* plugin;
    const char* title;
    bool fixed;
  };
  const Case cases[] = {
      {"urn:bexo:test:qtui-fixed", "Bexo Test Qt UI (Fixed)", true},
      {"urn:bexo:test:qtui-resizable", "Bexo Test Qt UI (Resizable)", false},
  };
  for (const Case& c : cases) {
    BexoQtRun run({c.plugin});
    const pid_t pid = run.pid;
    ASSERT_GT(pid, 0);
    const std::string window = window_of(c.title);
    ASSERT_FALSE(window.empty()) << c.plugin;
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(fixed_size(window), c.fixed) << c.plugin;
    const Geometry g = geometry_of(window);
    EXPECT_LT(g.width, 800) << "the generic panel was shown instead of the UI";
    if (c.fixed) {
      screenshot(window, "bexo-qt-embedded-qt6-ui", BEXO_ARTIFACTS_DIR);
    }
    kill(pid, SIGTERM);
    EXPECT_EQ(run.exit_status(), 0) << c.plugin;
  }
}

TEST(BexoQt, Synthv1OpensItsGenericPanel) {
  BexoQtRun run({"http://synthv1.sourceforge.net/lv2"});
  const pid_t pid = run.pid;
  ASSERT_GT(pid, 0);
  const std::string window = window_of("synthv1");
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(1s);
  EXPECT_GE(geometry_of(window).width, 800);
  screenshot(window, "bexo-qt-synthv1-panel", BEXO_ARTIFACTS_DIR);
  kill(pid, SIGTERM);
  EXPECT_EQ(run.exit_status(), 0);
}

TEST(BexoQt, FileQuitEndsTheRun) {
  BexoQtRun run({"urn:bexo:test:controls"});
  const pid_t pid = run.pid;
  ASSERT_GT(pid, 0);
  const std::string window = window_of("Bexo Test Controls");
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(300ms);
  // The test display has no window manager to activate windows: focus it.
  focus(window);
  press_keys("ctrl+q");
  EXPECT_EQ(run.exit_status(), 0);
}

} // namespace
