#pragma once

// What became of one plugin in the sweep, told from what was seen of its
// run from the outside: whether it got ready, how and when it ended, and
// which JACK clients it left.  Kept apart from the running so that the
// judgement itself can be checked without a server or a display.

#include <optional>
#include <string>
#include <vector>

enum class Outcome { Opened, Refused, Crashed, Hung, LeftBehind };

const char* outcome_name(Outcome outcome);

/// How a run ended, as waitpid told it.
struct Ending {
  bool exited = false; ///< Ended by exit(): `code` holds the status.
  int code = 0;
  int signal = 0;         ///< Killed by this signal when not `exited`.
  bool by_itself = false; ///< Before the sweep asked it to end.
  bool killed = false;    ///< The sweep had to SIGKILL it.
};

/// Everything the sweep saw of one run.
struct Observation {
  bool started = true;                 ///< False when the program could not be started at all.
  std::optional<double> ready_seconds; ///< From exec to ready; none when never.
  std::string not_ready_because;       ///< What was missing when it never got ready.
  double ready_limit = 0;
  double end_limit = 0;
  Ending ending;
  std::vector<std::string> left_clients; ///< Its JACK clients still there after it ended.
  std::string output;                    ///< What it printed on stdout and stderr.
  std::string backtrace;                 ///< gdb's, of the hung process or the crash's core.
};

struct Verdict {
  Outcome outcome = Outcome::Opened;
  std::string detail; ///< Why, in a few words, with the program's own line.
};

/// The outcome, the worst first: a hang, then a crash, then a client left
/// behind; a run that ended by itself with a nonzero status before it was
/// ready refused the plugin, and one that ended with 0 on SIGTERM opened it.
Verdict judge(const Observation& seen);

/// The line that says why the program stopped: the last one that speaks of
/// an error, or else the last line it printed; "" when it printed nothing.
std::string last_error_line(const std::string& output);

/// "SIGSEGV" for 11, "signal 70" for a number without a name.
std::string signal_name(int signal);
