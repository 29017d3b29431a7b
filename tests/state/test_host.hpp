#pragma once

// A Host opened on a plugin the way the host opens one, but with a backend
// of the tests' own: a thread that runs the process cycle as the JACK
// callback does (without JACK's ports), or single cycles driven by the
// test.  The UI side is drained like the periodic update drains it, so
// port and property controls follow what the plugin reports and the test
// front end records what is shown.

#include "host/host.hpp"

#include <atomic>
#include <chrono>
#include <functional>
#include <lv2/atom/atom.h>
#include <string>
#include <thread>
#include <vector>

struct LogLine {
  int level;
  std::string text;
};

class TestHost {
public:
  TestHost() = default;
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;
  ~TestHost();

  /// Open the plugin and restore its default state, as host open does.
  /// Returns 0, or a negative code at the step that failed.
  int open(const char* plugin_uri, float sample_rate = 48000.0f, uint32_t block_length = 256);

  /// Release everything open made, as host close does, and remove the
  /// scratch directory with whatever the plugin left in it.
  void close();

  /// Activate: start the worker, activate the plugin, start the cycle thread.
  void start();

  /// Deactivate: stop the cycle thread, deactivate the plugin, stop the worker.
  void stop();

  /// One cycle of the backend: the paused path, or run and send outputs.
  void cycle();

  /// Read process_ring as the periodic update does; returns the messages read.
  int drain();

  /// Drain until `done` holds or a few seconds passed; true when it held.
  bool wait_until(const std::function<bool()>& done);

  /// Send the plugin a patch:Set of the property `uri` to the atom.
  int set_property(const char* uri, uint32_t size, uint32_t type, const void* body);

  /// The property control of `uri`, or null.
  Control* property(const char* uri);

  /// The control with this symbol, or null.
  Control* control(const char* symbol);

  uint32_t map(const char* uri);

  /// Lines logged since the last clear, and whether one contains `text`.
  bool logged(int level, const std::string& text) const;

  Host host{};
  std::vector<LogLine> log;
  uint32_t block_length = 256;

private:
  void run_cycles();

  bool opened = false;
  bool active = false;
  std::atomic<bool> running{false};
  std::thread audio;
  std::vector<std::vector<float>> audio_buffers;
};

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes.
class TempDir {
public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::string& path() const { return dir; }
  std::string file(const std::string& name) const { return dir + "/" + name; }

private:
  std::string dir;
};

/// The contents of a file, or an empty string.
std::string read_text(const std::string& path);
