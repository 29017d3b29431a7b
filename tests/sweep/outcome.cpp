#include "outcome.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string trimmed(const std::string& line) {
  const size_t start = line.find_first_not_of(" \t\r");
  if (start == std::string::npos) {
    return "";
  }
  return line.substr(start, line.find_last_not_of(" \t\r") - start + 1);
}

// "error: ..." as the program and lilv say it, "Gdk-ERROR **: ..." as GLib
// does, and "The error was 'BadMatch ...'" of GDK's X error report; not a
// line that merely names a function such as gdk_x_error().
bool says_error(const std::string& lowered) {
  for (const char* mark : {"error:", "error **", "error was"}) {
    if (lowered.find(mark) != std::string::npos) {
      return true;
    }
  }
  return false;
}

std::string quoted(const std::string& line) {
  return line.empty() ? "(it printed nothing)" : "\"" + line + "\"";
}

std::string how_it_ended(const Ending& ending) {
  if (ending.exited) {
    return "status " + std::to_string(ending.code);
  }
  return "killed by " + signal_name(ending.signal);
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    text += (text.empty() ? "\"" : ", \"") + name + "\"";
  }
  return text;
}

} // namespace

const char* outcome_name(Outcome outcome) {
  switch (outcome) {
  case Outcome::Opened:
    return "opened";
  case Outcome::Refused:
    return "refused";
  case Outcome::Crashed:
    return "crashed";
  case Outcome::Hung:
    return "hung";
  case Outcome::LeftBehind:
    return "left-behind";
  }
  return "?";
}

std::string signal_name(int signal) {
  const char* abbrev = sigabbrev_np(signal);
  return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(signal);
}

std::string last_error_line(const std::string& output) {
  std::istringstream in(output);
  std::string last;
  std::string last_error;
  for (std::string line; std::getline(in, line);) {
    line = trimmed(line);
    if (line.empty()) {
      continue;
    }
    last = line;
    if (says_error(lower(line))) {
      last_error = line;
    }
  }
  return last_error.empty() ? last : last_error;
}

namespace {

// What made a program end with a status of its own although it failed:
// GDK's and Xlib's handlers of a fatal X error, and a sanitizer that caught
// a fault, end it with status 1, which looks like a refusal.  "" when
// nothing did.
std::string fatal_report(const std::string& output) {
  struct Mark {
    const char* text;
    const char* what;
  };
  const Mark marks[] = {
      {"received an X Window System error", "a fatal X error"},
      {"X Error of failed request", "a fatal X error"},
      {"fatal IO error", "a fatal X error"},
      {"ERROR: AddressSanitizer", "a sanitizer's report"},
      {"ERROR: LeakSanitizer", "a sanitizer's report"},
      {"ERROR: UndefinedBehaviorSanitizer", "a sanitizer's report"},
      {"WARNING: ThreadSanitizer", "a sanitizer's report"},
  };
  for (const Mark& m : marks) {
    if (output.find(m.text) != std::string::npos) {
      return m.what;
    }
  }
  return "";
}

// The last error line, after lilv's own when lilv spoke of an error before
// it: a library that does not load is told by lilv, and the program only
// adds that it could not instantiate the plugin.
std::string reason_of(const std::string& output) {
  const std::string last = last_error_line(output);
  std::string lilv;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("lilv_", 0) == 0 && says_error(lower(line))) {
      lilv = trimmed(line);
    }
  }
  return lilv.empty() || lilv == last ? quoted(last) : quoted(lilv) + " then " + quoted(last);
}

} // namespace

Verdict judge(const Observation& seen) {
  const Ending& end = seen.ending;
  const std::string said = reason_of(seen.output);
  const std::string left =
      seen.left_clients.empty() ? "" : "; left JACK client " + joined(seen.left_clients);
  if (!seen.ready_seconds && end.killed) {
    return {Outcome::Hung, "not ready within " +
                               std::to_string(static_cast<int>(seen.ready_limit)) + " s (" +
                               seen.not_ready_because + "); last line " + said + left};
  }
  if (end.killed) {
    return {Outcome::Hung, "did not end within " +
                               std::to_string(static_cast<int>(seen.end_limit)) +
                               " s of SIGTERM; last line " + said + left};
  }
  const std::string fatal = end.exited && end.code != 0 ? fatal_report(seen.output) : "";
  const bool crashed = !end.exited || !fatal.empty() || (seen.ready_seconds && end.code != 0) ||
                       (end.by_itself && end.code == 0);
  if (crashed) {
    std::string when = seen.ready_seconds
                           ? (end.by_itself ? "ended by itself after ready" : "on SIGTERM")
                           : "ended by itself before ready";
    if (!fatal.empty()) {
      when += " on " + fatal;
    }
    return {Outcome::Crashed, how_it_ended(end) + ", " + when + "; last line " + said + left};
  }
  if (!seen.left_clients.empty()) {
    return {Outcome::LeftBehind, "ended with " + how_it_ended(end) + left};
  }
  if (!seen.ready_seconds) {
    return {Outcome::Refused, how_it_ended(end) + ": " + said};
  }
  return {Outcome::Opened, ""};
}
