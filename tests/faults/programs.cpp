#include "programs.hpp"

#include "harness/wait_for.hpp"

#include <algorithm>
#include <set>
#include <sstream>

std::vector<std::string> output_lines(const ProgramRun& run) {
  std::istringstream in(run.output());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

size_t count_lines(const ProgramRun& run, const std::string& line) {
  const std::vector<std::string> lines = output_lines(run);
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

std::string new_client_with(const std::vector<std::string>& before, const std::string& port_symbol,
                            std::chrono::milliseconds limit) {
  const std::set<std::string> old(before.begin(), before.end());
  std::string client;
  soon(
      [&] {
        for (const std::string& port : jack_ports()) {
          const size_t colon = port.rfind(':');
          if (!old.count(port) && colon != std::string::npos &&
              port.substr(colon + 1) == port_symbol) {
            client = port.substr(0, colon);
            return true;
          }
        }
        return false;
      },
      limit);
  return client;
}

bool ports_back_to(const std::vector<std::string>& before, std::chrono::milliseconds limit) {
  std::vector<std::string> sorted = before;
  std::sort(sorted.begin(), sorted.end());
  return soon(
      [&] {
        std::vector<std::string> now = jack_ports();
        std::sort(now.begin(), now.end());
        return now == sorted;
      },
      limit);
}
