#include "sweep_report.hpp"

#include "backtrace.hpp"

#include <algorithm>
#include <fstream>

namespace {

std::string fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string padded(std::string text, size_t width) {
  if (text.size() < width) {
    text.append(width - text.size(), ' ');
  }
  return text;
}

} // namespace

SweepReport::SweepReport(const std::string& report_path, std::string name)
    : path(report_path), file(std::fopen(path.c_str(), "w")), program(std::move(name)) {
  if (!file) {
    std::fprintf(stderr, "bexo-sweep: cannot write %s\n", path.c_str());
  }
}

SweepReport::~SweepReport() {
  if (file) {
    std::fclose(file);
  }
}

void SweepReport::write(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (file) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fflush(file);
  }
}

void SweepReport::add(const std::string& uri, const Observation& seen) {
  const Verdict verdict = judge(seen);
  ++counts[verdict.outcome];
  std::string ready = "-";
  if (seen.ready_seconds) {
    ready = fixed(*seen.ready_seconds, 2) + " s";
    ready_times.emplace_back(*seen.ready_seconds, uri);
  }
  std::string line = padded(outcome_name(verdict.outcome), 12) + padded(ready, 9) + uri;
  if (!verdict.detail.empty()) {
    line += "  " + verdict.detail;
  }
  if (!seen.backtrace.empty()) {
    // Beside the report: its name without ".txt", then the plugin's.
    const std::string stem = path.substr(0, path.rfind(".txt"));
    const std::string trace_path = stem + "-" + file_name_of(uri) + ".bt.txt";
    std::ofstream(trace_path) << seen.backtrace;
    line += "; backtrace in " + trace_path;
  }
  write(line);
}

bool SweepReport::finish() {
  int plugins = 0;
  for (const auto& [outcome, n] : counts) {
    plugins += n;
  }
  const double total =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string summary =
      program + ": " + std::to_string(plugins) + " plugins in " + fixed(total, 0) + " s:";
  for (const Outcome o :
       {Outcome::Opened, Outcome::Refused, Outcome::Crashed, Outcome::Hung, Outcome::LeftBehind}) {
    summary += std::string(o == Outcome::Opened ? " " : ", ") + std::to_string(counts[o]) + " " +
               outcome_name(o);
  }
  write(summary);
  if (!ready_times.empty()) {
    std::sort(ready_times.begin(), ready_times.end());
    const size_t n = ready_times.size();
    const double median = n % 2 ? ready_times[n / 2].first
                                : (ready_times[n / 2 - 1].first + ready_times[n / 2].first) / 2;
    write("time to ready: median " + fixed(median, 2) + " s, max " +
          fixed(ready_times.back().first, 2) + " s (" + ready_times.back().second + ")");
  }
  return counts[Outcome::Crashed] + counts[Outcome::Hung] + counts[Outcome::LeftBehind] == 0;
}
