#pragma once

// The home directory of a test program that saves presets: a temporary one,
// made before anything asks GLib for the home directory (which GLib reads
// once per process) and removed when the program ends.

#include "harness/files.hpp"

#include <cstdlib>
#include <string>

inline const std::string& test_home() {
  static const TempDir home;
  static const bool set = setenv("HOME", home.path().c_str(), 1) == 0;
  (void)set;
  return home.path();
}

// Made while the program starts, before main: gtk_init already asks GLib
// for the home directory.
[[maybe_unused]] inline const std::string& test_home_at_start = test_home();
