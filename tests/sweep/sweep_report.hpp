#pragma once

// The sweep's report: one line per plugin as it is done, then a summary
// of the counts and the times to ready, on stdout and in a file.  Each
// line reaches the file at once, so that a sweep that was stopped half way
// still tells what it saw.

#include "outcome.hpp"

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

class SweepReport {
public:
  SweepReport(const std::string& path, std::string program);
  ~SweepReport();
  SweepReport(const SweepReport&) = delete;
  SweepReport& operator=(const SweepReport&) = delete;

  void add(const std::string& uri, const Observation& seen);
  /// Writes the summary; whether no plugin crashed, hung or left a client.
  bool finish();

private:
  void write(const std::string& line);

  const std::string path;
  std::FILE* file = nullptr;
  const std::string program;
  const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::map<Outcome, int> counts;
  std::vector<std::pair<double, std::string>> ready_times;
};
