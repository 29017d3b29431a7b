#pragma once

// Keeping what the host logs, for tests that check messages.

#include <cstdarg>
#include <cstdio>
#include <ostream>
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
  const int n = std::vsnprintf(text, sizeof(text), format, args);
  static_cast<std::vector<LogLine>*>(data)->push_back({level, text});
  return n;
}

/// The texts of the lines logged at `level`, in order.
inline std::vector<std::string> lines_at(const std::vector<LogLine>& lines, int level) {
  std::vector<std::string> found;
  for (const LogLine& line : lines) {
    if (line.level == level) {
      found.push_back(line.text);
    }
  }
  return found;
}

/// Whether a line at `level` contains `text`.
inline bool logged(const std::vector<LogLine>& lines, int level, const std::string& text) {
  for (const LogLine& line : lines) {
    if (line.level == level && line.text.find(text) != std::string::npos) {
      return true;
    }
  }
  return false;
}
