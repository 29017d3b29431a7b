#pragma once

// The three programs the fault tests start as a user would: the real main
// with the tests' own front end (bexo-scripted-run, which reports each step
// of its life on its output) and both real programs under the private
// display.  Each runs with a home of its own and its output kept.

#include "harness/desktop.hpp"

#include <memory>
#include <string>
#include <vector>

struct Program {
  const char* name;
  const char* path;
  bool scripted; ///< bexo-scripted-run: the argument goes in BEXO_TEST_ARG.
};

inline const Program all_programs[] = {
    {"bexo-scripted-run", BEXO_SCRIPTED_RUN_PATH, true},
    {"bexo-gtk", BEXO_GTK_PATH, false},
    {"bexo-qt", BEXO_QT_PATH, false},
};

/// Starts `program` on the plugin, preset or state `arg`.
inline std::unique_ptr<ProgramRun> start(const Program& program, const std::string& arg,
                                         std::vector<std::string> env = {}) {
  std::vector<std::string> args;
  if (program.scripted) {
    env.push_back("BEXO_TEST_ARG=" + arg);
  } else {
    args.push_back(arg);
  }
  return std::make_unique<ProgramRun>(program.path, args, env, true);
}

/// The lines of what a run printed.
std::vector<std::string> output_lines(const ProgramRun& run);

/// How many lines of the output are exactly `line`.
size_t count_lines(const ProgramRun& run, const std::string& line);

/// The JACK client, of those not in `before`, that has a port named
/// `port_symbol`; "" when none came within `limit`.
std::string new_client_with(const std::vector<std::string>& before, const std::string& port_symbol,
                            std::chrono::milliseconds limit = std::chrono::seconds(15));

/// Waits until the JACK ports are those of `before` again.
bool ports_back_to(const std::vector<std::string>& before,
                   std::chrono::milliseconds limit = std::chrono::seconds(5));
