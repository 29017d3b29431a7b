#include "backtrace.hpp"

#include "harness/desktop.hpp"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

namespace {

const char* const gdb_commands = "-batch -ex 'set pagination off' -ex 'thread apply all bt 30'";

std::string first_line_of(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

} // namespace

bool allow_core_dumps() {
  if (first_line_of("/proc/sys/kernel/core_pattern").rfind('|', 0) == 0) {
    return false;
  }
  rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
  return setrlimit(RLIMIT_CORE, &unlimited) == 0;
}

std::string backtrace_of_process(pid_t pid) {
  return shell("gdb " + std::string(gdb_commands) + " -p " + std::to_string(pid) +
               " 2>&1 </dev/null");
}

std::string backtrace_of_core(const std::string& program, const std::string& directory, pid_t pid) {
  // core_pattern is "core" or "core.%p"-like; core_uses_pid adds ".pid".
  for (const std::string& name : {std::string("core"), "core." + std::to_string(pid)}) {
    const std::string core = directory + "/" + name;
    if (std::filesystem::exists(core)) {
      const std::string trace =
          shell("gdb " + std::string(gdb_commands) + " '" + program + "' '" + core + "' 2>&1");
      std::error_code ignored;
      std::filesystem::remove(core, ignored);
      return trace;
    }
  }
  return "";
}

std::string file_name_of(const std::string& uri) {
  std::string name;
  for (const char c : uri.substr(uri.find("://") == std::string::npos ? 0 : uri.find("://") + 3)) {
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  return name;
}
