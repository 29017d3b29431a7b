#pragma once

// One run of bexo-gtk as a user starts it, under the test display and the
// private JACK server, with a home of its own so that presets it saves stay
// out of the user's.

#include "harness/desktop.hpp"
#include "harness/wait_for.hpp"

#include <string>
#include <vector>

struct GtkRun : ProgramRun {
  explicit GtkRun(const std::vector<std::string>& args,
                  const std::vector<std::string>& extra_env = {}, bool capture = false)
      : ProgramRun(BEXO_GTK_PATH, args, extra_env, capture) {}
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

/// Whether the window of this title is gone, or goes within a few seconds.
inline bool window_closes(const std::string& title) {
  return soon([&] { return window_of(title, std::chrono::milliseconds(0)).empty(); });
}
