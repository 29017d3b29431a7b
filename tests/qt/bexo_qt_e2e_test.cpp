// bexo-qt end to end, under the test display and the private JACK server:
// what a user starting it sees, and the ways to end it.  Screenshots go to
// the build's artifacts directory.

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// Runs a shell command and returns what it printed, without the last newline.
std::string shell(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe)) {
      output += buffer.data();
    }
    pclose(pipe);
  }
  while (!output.empty() && output.back() == '\n') {
    output.pop_back();
  }
  return output;
}

pid_t start_bexo_qt(const std::vector<std::string>& args) {
  std::vector<std::string> strings{BEXO_QT_PATH};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) {
    argv.push_back(s.data());
  }
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, BEXO_QT_PATH, nullptr, nullptr, argv.data(), environ) != 0) {
    return -1;
  }
  return pid;
}

// Its exit status, or -1 (after killing it) when it did not end within
// fifteen seconds.
int exit_status(pid_t pid) {
  int status = 0;
  for (int tries = 0; tries < 150; ++tries) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(100ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

// The window id of the window with this title, once it is mapped; "" when
// none appeared within ten seconds.
std::string window_of(const std::string& title) {
  std::string pattern; // xdotool matches titles as regular expressions
  for (const char c : title) {
    if (std::strchr("()[].*+?^$|\\", c)) {
      pattern += '\\';
    }
    pattern += c;
  }
  for (int tries = 0; tries < 100; ++tries) {
    const std::string id =
        shell("xdotool search --onlyvisible --name '^" + pattern + "$' 2>/dev/null | head -1");
    if (!id.empty()) {
      return id;
    }
    std::this_thread::sleep_for(100ms);
  }
  return "";
}

struct Geometry {
  int width = 0;
  int height = 0;
};

Geometry geometry_of(const std::string& window) {
  Geometry g;
  const std::string text = shell("xwininfo -id " + window);
  std::sscanf(text.c_str() + text.find("Width:"), "Width: %d", &g.width);
  std::sscanf(text.c_str() + text.find("Height:"), "Height: %d", &g.height);
  return g;
}

void screenshot(const std::string& window, const std::string& name) {
  std::filesystem::create_directories(BEXO_ARTIFACTS_DIR);
  shell("import -window " + window + " " BEXO_ARTIFACTS_DIR "/" + name + ".png");
}

TEST(BexoQt, WithoutAnArgumentItExitsWithOneAndNoWindow) {
  const pid_t pid = start_bexo_qt({});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(exit_status(pid), 1);
}

TEST(BexoQt, AnAudioClientThatCannotBeActivatedEndsTheRunWithOneAndSaysWhy) {
  // Without sound the run would be useless: it must not go on silently.
  const std::string output = shell("LD_PRELOAD=" BEXO_REFUSED_ACTIVATION " " BEXO_QT_PATH
                                   " urn:bexo:test:controls 2>&1; echo status $?");
  EXPECT_NE(output.find("error: Failed to activate the audio client\n"), std::string::npos)
      << output;
  EXPECT_EQ(output.substr(output.rfind('\n') + 1), "status 1") << output;
}

TEST(BexoQt, ControlsFixtureOpensTheGenericPanelAndEndsOnSigint) {
  const pid_t pid = start_bexo_qt({"urn:bexo:test:controls"});
  ASSERT_GT(pid, 0);
  const std::string window = window_of("Bexo Test Controls");
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(500ms);
  const Geometry g = geometry_of(window);
  EXPECT_GE(g.width, 800);
  EXPECT_GT(g.height, 600); // the scroll area's 600 and the menu bar
  screenshot(window, "bexo-qt-controls-panel");
  kill(pid, SIGINT);
  EXPECT_EQ(exit_status(pid), 0);
}

// Whether the window manager may resize it: a fixed window has equal
// minimum and maximum sizes in its normal hints.
bool fixed_size(const std::string& window) {
  const std::string hints = shell("xprop -id " + window + " WM_NORMAL_HINTS");
  const auto at = [&](const std::string& key) {
    const size_t pos = hints.find(key);
    return pos == std::string::npos ? std::string() : hints.substr(pos + key.size(), 12);
  };
  const std::string min = at("program specified minimum size: ");
  return !min.empty() && min == at("program specified maximum size: ");
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
    const pid_t pid = start_bexo_qt({c.plugin});
    ASSERT_GT(pid, 0);
    const std::string window = window_of(c.title);
    ASSERT_FALSE(window.empty()) << c.plugin;
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(fixed_size(window), c.fixed) << c.plugin;
    const Geometry g = geometry_of(window);
    EXPECT_LT(g.width, 800) << "the generic panel was shown instead of the UI";
    if (c.fixed) {
      screenshot(window, "bexo-qt-embedded-qt6-ui");
    }
    kill(pid, SIGTERM);
    EXPECT_EQ(exit_status(pid), 0) << c.plugin;
  }
}

TEST(BexoQt, Synthv1OpensItsGenericPanel) {
  const pid_t pid = start_bexo_qt({"http://synthv1.sourceforge.net/lv2"});
  ASSERT_GT(pid, 0);
  const std::string window = window_of("synthv1");
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(1s);
  EXPECT_GE(geometry_of(window).width, 800);
  screenshot(window, "bexo-qt-synthv1-panel");
  kill(pid, SIGTERM);
  EXPECT_EQ(exit_status(pid), 0);
}

TEST(BexoQt, FileQuitEndsTheRun) {
  const pid_t pid = start_bexo_qt({"urn:bexo:test:controls"});
  ASSERT_GT(pid, 0);
  const std::string window = window_of("Bexo Test Controls");
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(300ms);
  // The test display has no window manager to activate windows: focus it.
  shell("xdotool windowfocus " + window);
  std::this_thread::sleep_for(300ms);
  shell("xdotool key --clearmodifiers ctrl+q");
  EXPECT_EQ(exit_status(pid), 0);
}

} // namespace
