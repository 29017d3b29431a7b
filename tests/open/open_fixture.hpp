#pragma once

// A Host opened the way main and a front end open it, against the private
// JACK server, with the tests' own front end and every log line captured.

#include "frontend/test_frontend.hpp"
#include "host/host.hpp"
#include "host/host_open.hpp"
#include "host/lifecycle.hpp"
#include "host/signals.hpp"
#include "jack/backend.hpp"

#include <cstdarg>
#include <gtest/gtest.h>
#include <string>
#include <vector>

struct LogLine {
  int level;
  std::string text;
  bool operator==(const LogLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  return out << line.level << " " << line.text;
}

/// A log sink that keeps each line in the vector<LogLine> of its data.
inline int capture_log(void* data, int level, const char* format, va_list args) {
  char text[1024];
  const int n = vsnprintf(text, sizeof(text), format, args);
  static_cast<std::vector<LogLine>*>(data)->push_back({level, text});
  return n;
}

/// A Host as main leaves it for the front end: arguments taken, a backend
/// record, and every log line kept in `lines`.  Not yet open.
struct PreparedHost {
  PreparedHost() {
    host.backend = &backend;
    host_init_args(&host, 1, argv);
    host.log.sink = capture_log;
    host.log.sink_data = &lines;
  }
  PreparedHost(const PreparedHost&) = delete;
  PreparedHost& operator=(const PreparedHost&) = delete;

  char program[8] = "bexo";
  char* argv[2] = {program, nullptr};
  Host host{};
  Backend backend{};
  std::vector<LogLine> lines;
};

class OpenHost : public testing::Test {
protected:
  void SetUp() override {
    test_frontend_reset();
    set_quit_semaphore(&host.quit_sem);
  }

  void TearDown() override {
    if (opened) {
      host_close(&host);
    }
    set_quit_semaphore(nullptr);
  }

  int open(const char* arg) {
    const int status = host_open(&host, arg);
    opened = status == 0;
    return status;
  }

  /// The lines logged at `level`, in order.
  std::vector<std::string> logged(int level) const {
    std::vector<std::string> found;
    for (const LogLine& line : lines) {
      if (line.level == level) {
        found.push_back(line.text);
      }
    }
    return found;
  }

  PreparedHost prepared;
  Host& host = prepared.host;
  std::vector<LogLine>& lines = prepared.lines;
  bool opened = false;
};
