// The sweep judged against plugins whose fate is known: fixtures that open
// and that the program refuses, and the sweep's own plugins that crash,
// abort, hang before and after ready, and leave a JACK client behind.  A
// sweep that called any of these "opened" would hide the very faults it is
// run to find.

#include "harness/desktop.hpp"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {

using namespace std::chrono_literals;

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The report's line of the plugin: the URI stands between the ready column
// and the detail, or at the end.
std::string line_of(const std::string& report, const std::string& uri) {
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    const size_t at = line.find(" " + uri);
    const size_t end = at + 1 + uri.size();
    if (at != std::string::npos && (end == line.size() || line.compare(end, 2, "  ") == 0)) {
      return line;
    }
  }
  return "";
}

TEST(Sweep, EachPluginGetsTheOutcomeItEarnsAndTheSweepFails) {
  const TempHome dir;
  const std::string report = dir.path() + "/report.txt";
  const std::string lv2_path = std::string(BEXO_SWEEP_FAULTS_DIR) + ":" + BEXO_FIXTURE_LV2_DIR;
  const pid_t pid =
      start_program(BEXO_SWEEP_PATH,
                    {"--program", "gtk", "--lv2-path", lv2_path, "--only",
                     "^urn:bexo:(sweep:|test:(controls|no-instance|required-made-up)$)", "--report",
                     report, "--ready-limit", "4", "--end-limit", "3"},
                    {}, dir.path() + "/sweep-output.txt");
  ASSERT_GT(pid, 0);
  const int status = exit_status(pid, 240s);
  const std::string text = read_file(report);
  EXPECT_EQ(status, 1) << "a sweep with crashes, hangs and a client left must fail\n" << text;

  struct Case {
    const char* uri;
    const char* outcome;
    std::vector<const char*> detail; ///< Parts the line must hold.
  };
  const Case cases[] = {
      {"urn:bexo:test:controls", "opened", {" s "}},
      // JACK client names may hold a colon, as port names separate with one.
      {"urn:bexo:sweep:colon-name", "opened", {" s "}},
      {"urn:bexo:test:no-instance", "refused", {"status 1: \"", "error"}},
      {"urn:bexo:test:required-made-up", "refused", {"status 1: \"", "error"}},
      {"urn:bexo:sweep:crash-on-activate",
       "crashed",
       {"killed by SIGILL, ended by itself before ready"}},
      {"urn:bexo:sweep:abort-on-deactivate", "crashed", {"killed by SIGABRT, on SIGTERM"}},
      {"urn:bexo:sweep:hang-on-instantiate",
       "hung",
       {"not ready within 4 s (no window mapped)", "backtrace in "}},
      {"urn:bexo:sweep:hang-on-deactivate",
       "hung",
       {"did not end within 3 s of SIGTERM", "backtrace in "}},
      {"urn:bexo:sweep:leave-client",
       "left-behind",
       {"ended with status 0; left JACK client \"bexo-sweep-orphan (1 ports)\""}},
  };
  for (const Case& c : cases) {
    const std::string line = line_of(text, c.uri);
    ASSERT_FALSE(line.empty()) << c.uri << " is not in the report:\n" << text;
    EXPECT_EQ(line.rfind(std::string(c.outcome) + " ", 0), 0u) << line;
    for (const char* part : c.detail) {
      EXPECT_NE(line.find(part), std::string::npos) << "no \"" << part << "\" in: " << line;
    }
  }
  EXPECT_NE(text.find("bexo-gtk: 9 plugins in "), std::string::npos) << text;
  EXPECT_NE(text.find(": 2 opened, 2 refused, 2 crashed, 2 hung, 1 left-behind\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("time to ready: median "), std::string::npos) << text;

  // The hang's backtrace shows where it waits: the plugin sleeping.
  const std::string hung = line_of(text, "urn:bexo:sweep:hang-on-deactivate");
  const size_t at = hung.find("backtrace in ");
  ASSERT_NE(at, std::string::npos);
  const std::string trace = read_file(hung.substr(at + std::strlen("backtrace in ")));
  EXPECT_NE(trace.find("sleep"), std::string::npos) << trace;
}

} // namespace
