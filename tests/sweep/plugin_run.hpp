#pragma once

// One plugin opened as a user opens it: the program started with the
// plugin's URI as its one argument, in a home of its own, on the private
// JACK server and the test display; watched until it is ready, left to run,
// ended with SIGTERM, and looked after until its JACK client is gone.
//
// "Ready" is what a user sees and what a patchbay sees: a top-level window
// of the program's process is mapped on the display, and the JACK client it
// opened is active (its ports were announced to other clients; a client
// without ports has nothing to announce and counts once it is registered).

#include "jack_watch.hpp"
#include "outcome.hpp"

#include <chrono>
#include <string>

struct RunLimits {
  std::chrono::milliseconds ready{20000}; ///< From exec to ready.
  std::chrono::milliseconds run{1000};    ///< Left running once ready.
  std::chrono::milliseconds end{10000};   ///< From SIGTERM to its exit.
  std::chrono::milliseconds gone{3000};   ///< For the server to drop its client.
};

struct PluginRun {
  std::string program;  ///< Path of bexo-gtk or bexo-qt.
  std::string uri;      ///< The one argument.
  std::string lv2_path; ///< Where the program looks for plugins.
  RunLimits limits;
  bool backtraces = false; ///< Take them of hangs and of crashes' cores.
};

/// Runs the program on the plugin and tells what was seen.
Observation run_plugin(const PluginRun& run, JackWatch& watch);
