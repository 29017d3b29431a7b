// bexo-sweep: opens every installed LV2 plugin in one of the programs, one
// after the other, as a user would, and tells for each whether it opened,
// was refused (and why), crashed, hung or left its JACK client behind.
//
//   bexo-sweep --program gtk|qt [--program-path FILE] [--only REGEX] [--lv2-path PATH]
//              [--report FILE] [--ready-limit S] [--run S] [--end-limit S]
//              [--backtraces yes|no]
//
// It runs only under bexo-test-env --jack --display, which gives it a
// private JACK server and display, so that no plugin reaches the user's.
// One line per plugin and a summary go to stdout and to the report file
// (by default the build's artifacts/sweep-bexo-gtk.txt or -qt.txt).  With
// backtraces (the default), gdb's backtrace of each hang and of each
// crash's core goes to a file beside the report, named in its line.
// --program-path sweeps another binary of the program (an installed one,
// or a build with a change to try) under the program's name.
//
// The exit status is 1 when any plugin crashed, hung or left a client
// behind: a plugin refused with a reason is the program doing its job.  It
// is 2 when the sweep could not run at all (bad options, no server, a
// program that cannot be started).

#include "backtrace.hpp"
#include "jack_watch.hpp"
#include "plugin_run.hpp"
#include "sweep_report.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <lilv/lilv.h>
#include <regex>
#include <string>
#include <vector>

namespace {

struct Options {
  std::string program_name; ///< "bexo-gtk" or "bexo-qt".
  std::string program;
  std::string program_path; ///< Another build or install of the program.
  std::string only;
  std::string lv2_path = BEXO_SYSTEM_LV2_DIR;
  std::string report;
  RunLimits limits;
  bool backtraces = true;
};

int usage(const char* why) {
  std::fprintf(stderr,
               "bexo-sweep: %s\n"
               "usage: bexo-sweep --program gtk|qt [--program-path FILE] [--only REGEX]\n"
               "                  [--lv2-path PATH] [--report FILE] [--ready-limit S]\n"
               "                  [--run S] [--end-limit S]\n"
               "                  [--backtraces yes|no]\n",
               why);
  return 2;
}

std::chrono::milliseconds seconds_arg(const char* text) {
  return std::chrono::milliseconds(static_cast<long>(std::atof(text) * 1000));
}

// lilv makes a file URI of each directory of the path, which a relative
// directory cannot give: it then fails to map it and crashes.
std::string absolute_path_list(const std::string& list) {
  std::string absolute;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(':', start), list.size());
    if (end > start) {
      absolute += (absolute.empty() ? "" : ":") +
                  std::filesystem::absolute(list.substr(start, end - start)).string();
    }
    start = end + 1;
  }
  return absolute;
}

// Parses argv into `o`; "" when it is good, else what is wrong.
std::string parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      return "missing value after " + arg;
    }
    const char* value = argv[++i];
    if (arg == "--program") {
      const std::string which = value;
      if (which == "gtk" || which == "bexo-gtk") {
        o->program_name = "bexo-gtk";
        o->program = BEXO_GTK_PATH;
      } else if (which == "qt" || which == "bexo-qt") {
        o->program_name = "bexo-qt";
        o->program = BEXO_QT_PATH;
      } else {
        return "unknown program " + which;
      }
    } else if (arg == "--program-path") {
      o->program_path = value;
    } else if (arg == "--only") {
      o->only = value;
    } else if (arg == "--lv2-path") {
      o->lv2_path = absolute_path_list(value);
    } else if (arg == "--report") {
      o->report = value;
    } else if (arg == "--ready-limit") {
      o->limits.ready = seconds_arg(value);
    } else if (arg == "--run") {
      o->limits.run = seconds_arg(value);
    } else if (arg == "--end-limit") {
      o->limits.end = seconds_arg(value);
    } else if (arg == "--backtraces") {
      o->backtraces = std::string(value) != "no";
    } else {
      return "unknown option " + arg;
    }
  }
  if (o->program.empty()) {
    return "no --program given";
  }
  if (!o->program_path.empty()) {
    o->program = o->program_path;
  }
  if (o->report.empty()) {
    o->report = std::string(BEXO_ARTIFACTS_DIR) + "/sweep-" + o->program_name + ".txt";
  }
  return "";
}

// The URIs of the plugins lilv finds on `lv2_path`, sorted, that match
// `only` (all when it is empty).
std::vector<std::string> plugin_uris(const std::string& lv2_path, const std::string& only) {
  LilvWorld* world = lilv_world_new();
  LilvNode* path = lilv_new_string(world, lv2_path.c_str());
  lilv_world_set_option(world, LILV_OPTION_LV2_PATH, path);
  lilv_node_free(path);
  lilv_world_load_all(world);
  const std::regex pattern(only.empty() ? ".*" : only);
  std::vector<std::string> uris;
  const LilvPlugins* plugins = lilv_world_get_all_plugins(world);
  LILV_FOREACH(plugins, i, plugins) {
    const char* uri = lilv_node_as_uri(lilv_plugin_get_uri(lilv_plugins_get(plugins, i)));
    if (std::regex_search(uri, pattern)) {
      uris.emplace_back(uri);
    }
  }
  lilv_world_free(world);
  std::sort(uris.begin(), uris.end());
  return uris;
}

} // namespace

int main(int argc, char** argv) {
  Options options;
  const std::string wrong = parse(argc, argv, &options);
  if (!wrong.empty()) {
    return usage(wrong.c_str());
  }
  // Whatever the plugins do, they must do it to the test's server and
  // display only.
  if (!std::getenv("BEXO_PRIVATE_JACK_SERVER") || !std::getenv("DISPLAY")) {
    return usage("run me under bexo-test-env --jack --display");
  }
  std::vector<std::string> uris;
  try {
    uris = plugin_uris(options.lv2_path, options.only);
  } catch (const std::regex_error& e) {
    return usage(("bad --only pattern: " + std::string(e.what())).c_str());
  }
  if (uris.empty()) {
    return usage("no plugin found");
  }
  JackWatch watch;
  if (!watch.ok()) {
    std::fprintf(stderr, "bexo-sweep: cannot reach the private JACK server\n");
    return 2;
  }
  std::filesystem::create_directories(std::filesystem::path(options.report).parent_path());
  if (options.backtraces && !allow_core_dumps()) {
    std::fprintf(stderr, "bexo-sweep: cores go elsewhere; no backtraces of crashes\n");
  }
  SweepReport report(options.report, options.program_name);
  for (size_t i = 0; i < uris.size(); ++i) {
    const PluginRun run{options.program, uris[i], options.lv2_path, options.limits,
                        options.backtraces};
    const Observation seen = run_plugin(run, watch);
    // Nothing can be told of any plugin then: not even that it was refused.
    if (!seen.started) {
      std::fprintf(stderr, "bexo-sweep: cannot start %s\n", options.program.c_str());
      return 2;
    }
    report.add(uris[i], seen);
  }
  return report.finish() ? 0 : 1;
}
