// How the sweep judges one run from what it saw of it.  A wrong judgement
// would hide a crash as a refusal, or fail the sweep for a plugin that the
// program rightly refused.

#include "outcome.hpp"

#include <csignal>
#include <gtest/gtest.h>

namespace {

Ending exited(int code, bool by_itself) {
  Ending e;
  e.exited = true;
  e.code = code;
  e.by_itself = by_itself;
  return e;
}

Ending signalled(int signal, bool by_itself) {
  Ending e;
  e.signal = signal;
  e.by_itself = by_itself;
  return e;
}

Ending killed() {
  Ending e = signalled(SIGKILL, false);
  e.killed = true;
  return e;
}

struct RunCase {
  const char* what;
  bool ready;
  Ending ending;
  std::vector<std::string> left;
  Outcome outcome;
  const char* detail_has; ///< A part of the detail that must be there.
};
const RunCase run_cases[] = {
    {"ended with 0 on SIGTERM", true, exited(0, false), {}, Outcome::Opened, ""},
    {"status 1 before ready",
     false,
     exited(1, true),
     {},
     Outcome::Refused,
     "status 1: \"error: Failed to instantiate plugin\""},
    {"a signal before ready",
     false,
     signalled(SIGSEGV, true),
     {},
     Outcome::Crashed,
     "killed by SIGSEGV, ended by itself before ready"},
    {"abort on SIGTERM",
     true,
     signalled(SIGABRT, false),
     {},
     Outcome::Crashed,
     "killed by SIGABRT, on SIGTERM"},
    {"nonzero status on SIGTERM",
     true,
     exited(1, false),
     {},
     Outcome::Crashed,
     "status 1, on SIGTERM"},
    {"nonzero status by itself after ready",
     true,
     exited(3, true),
     {},
     Outcome::Crashed,
     "status 3, ended by itself after ready"},
    {"status 0 by itself after ready",
     true,
     exited(0, true),
     {},
     Outcome::Crashed,
     "status 0, ended by itself after ready"},
    {"status 0 by itself before ready",
     false,
     exited(0, true),
     {},
     Outcome::Crashed,
     "status 0, ended by itself before ready"},
    {"never ready", false, killed(), {}, Outcome::Hung, "not ready within 20 s (no window mapped)"},
    {"no end after SIGTERM",
     true,
     killed(),
     {},
     Outcome::Hung,
     "did not end within 10 s of SIGTERM"},
    {"client still there after a clean end",
     true,
     exited(0, false),
     {"amp (2 ports)"},
     Outcome::LeftBehind,
     "left JACK client \"amp (2 ports)\""},
    {"client still there after a crash",
     true,
     signalled(SIGSEGV, false),
     {"amp (2 ports)"},
     Outcome::Crashed,
     "left JACK client \"amp (2 ports)\""},
};
TEST(SweepOutcome, EachWayARunEndsHasItsOutcomeAndSaysWhy) {
  for (const RunCase& c : run_cases) {
    Observation seen;
    if (c.ready) {
      seen.ready_seconds = 0.5;
    } else {
      seen.not_ready_because = "no window mapped";
    }
    seen.ready_limit = 20;
    seen.end_limit = 10;
    seen.ending = c.ending;
    seen.left_clients = c.left;
    seen.output = "JACK name: amp\nerror: Failed to instantiate plugin\n";
    const Verdict verdict = judge(seen);
    EXPECT_EQ(outcome_name(verdict.outcome), std::string(outcome_name(c.outcome))) << c.what;
    EXPECT_NE(verdict.detail.find(c.detail_has), std::string::npos)
        << c.what << ": " << verdict.detail;
    if (c.outcome != Outcome::Opened && c.outcome != Outcome::LeftBehind) {
      EXPECT_NE(verdict.detail.find("Failed to instantiate"), std::string::npos)
          << c.what << " does not quote the program: " << verdict.detail;
    }
  }
}

TEST(SweepOutcome, ARefusalQuotesLilvAndAFatalXErrorOrSanitizerReportIsACrash) {
  struct Case {
    const char* output;
    Outcome outcome;
    const char* detail_has;
  };
  const Case cases[] = {
      // A plugin library that Debian ships with a symbol missing.
      {"JACK name: Multiband EQ\n"
       "lilv_lib_open(): error: Failed to open library /usr/lib/lv2/mbeq-swh.lv2/plugin-linux.so "
       "(undefined symbol: fftwf_execute)\n"
       "error: Failed to instantiate plugin\n",
       Outcome::Refused,
       "status 1: \"lilv_lib_open(): error: Failed to open library "
       "/usr/lib/lv2/mbeq-swh.lv2/plugin-linux.so (undefined symbol: fftwf_execute)\" then "
       "\"error: Failed to instantiate plugin\""},
      {"error: No plugin or state found at urn:x\n", Outcome::Refused,
       "status 1: \"error: No plugin or state found at urn:x\""},
      {"(bexo-gtk:1): Gdk-WARNING **: The program 'bexo-gtk' received an X Window System error.\n"
       "The error was 'BadWindow (invalid Window parameter)'.\n",
       Outcome::Crashed,
       "status 1, ended by itself before ready on a fatal X error; last line \"The error was "
       "'BadWindow (invalid Window parameter)'.\""},
      {"X Error of failed request:  BadWindow (invalid Window parameter)\n", Outcome::Crashed,
       "on a fatal X error"},
      // A sanitizer's handler of SIGSEGV exits with 1 instead of dying.
      {"==12==ERROR: AddressSanitizer: SEGV on unknown address 0x000000000000\n"
       "==12==ABORTING\n",
       Outcome::Crashed,
       "status 1, ended by itself before ready on a sanitizer's report; last line "
       "\"==12==ERROR: AddressSanitizer: SEGV on unknown address 0x000000000000\""},
  };
  for (const Case& c : cases) {
    Observation seen;
    seen.ending = exited(1, true);
    seen.output = c.output;
    const Verdict verdict = judge(seen);
    EXPECT_EQ(outcome_name(verdict.outcome), std::string(outcome_name(c.outcome))) << c.output;
    EXPECT_NE(verdict.detail.find(c.detail_has), std::string::npos) << verdict.detail;
  }
}

TEST(SweepOutcome, TheQuotedLineIsTheLastErrorOrElseTheLastLine) {
  struct Case {
    const char* output;
    const char* line;
  };
  const Case cases[] = {
      // lilv's own message, then the program's summary after it.
      {"lilv_lib_open(): error: Failed to open library /usr/lib/lv2/x.so (undefined symbol: f)\n"
       "error: Failed to instantiate plugin\n"
       "  \n",
       "error: Failed to instantiate plugin"},
      {"warning: no UI\nERROR: no such plugin\nbye\n", "ERROR: no such plugin"},
      // GDK's report of an X error, whose last lines name gdk_x_error().
      {"(bexo-gtk:1): Gdk-ERROR **: received an X Window System error.\n"
       "The error was 'BadMatch (invalid parameter attributes)'.\n"
       "  (Note to programmers: normally, X Window System errors are reported asynchronously;\n"
       "   get a meaningful backtrace from your debugger if you break on the gdk_x_error() "
       "function.)\n",
       "The error was 'BadMatch (invalid parameter attributes)'."},
      {"JACK name: amp\n\n   Segmentation fault   \n", "Segmentation fault"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(last_error_line(c.output), c.line) << c.output;
  }
}

TEST(SweepOutcome, SignalsAreNamed) {
  EXPECT_EQ(signal_name(SIGSEGV), "SIGSEGV");
  EXPECT_EQ(signal_name(SIGABRT), "SIGABRT");
  EXPECT_EQ(signal_name(1000), "signal 1000");
}

} // namespace
