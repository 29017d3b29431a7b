#pragma once

// One run of bexo-gtk as a user starts it, under the test display and the
// private JACK server, with a home of its own so that presets it saves stay
// out of the user's.

#include "harness/desktop.hpp"

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <vector>

struct GtkRun {
  TempHome home;
  pid_t pid = -1;

  /// With `capture`, what it prints is kept for output() instead of going
  /// to the test's log.
  explicit GtkRun(const std::vector<std::string>& args,
                  const std::vector<std::string>& extra_env = {}, bool capture = false) {
    std::vector<std::string> env = home.env();
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    pid = start_program(BEXO_GTK_PATH, args, env, capture ? output_path() : "");
  }

  // A test that stopped half way must not leave its program running into
  // the next one.
  ~GtkRun() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  GtkRun(const GtkRun&) = delete;
  GtkRun& operator=(const GtkRun&) = delete;

  /// How it ended (see ::exit_status); it is gone afterwards either way.
  int exit_status(std::chrono::seconds limit = std::chrono::seconds(15)) {
    const int status = ::exit_status(pid, limit);
    pid = -1;
    return status;
  }

  std::string output_path() const { return home.path() + "/output.txt"; }
  std::string output() const {
    std::ifstream in(output_path());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
};

/// The window of the plugin as bexo-gtk titles it; "" when none appeared.
/// The plugin's window is the one with the role the program gives it.
inline std::string plugin_window(const std::string& title) {
  const std::string window = window_of(title);
  return !window.empty() && text_property(window, "WM_WINDOW_ROLE") == "plugin_ui" ? window : "";
}

/// Whether the pixel is the accent blue that GTK's default theme fills
/// a scale's trough with, up to its value, and marks selected rows with.
inline bool accent_blue(const uint8_t* rgb) {
  return rgb[2] >= 160 && rgb[2] - rgb[0] >= 100 && rgb[2] > rgb[1] + 40;
}
