#include "jack_server.hpp"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> command_line(const std::string& pid) {
  std::ifstream file("/proc/" + pid + "/cmdline");
  const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  std::string arg;
  for (const char c : all) {
    if (c == '\0') {
      args.push_back(arg);
      arg.clear();
    } else {
      arg += c;
    }
  }
  return args;
}

bool serves(const std::vector<std::string>& args, const std::string& name) {
  if (args.empty() || args[0].find("jackd") == std::string::npos) {
    return false;
  }
  for (size_t i = 1; i + 1 < args.size(); ++i) {
    if ((args[i] == "-n" || args[i] == "--name") && args[i + 1] == name) {
      return true;
    }
  }
  return false;
}

} // namespace

pid_t jack_server_pid(const std::string& name) {
  const char* launcher = std::getenv("BEXO_PRIVATE_JACK_SERVER");
  const std::string wanted = name.empty() ? (launcher ? launcher : "") : name;
  if (wanted.empty()) {
    return -1;
  }
  DIR* proc = opendir("/proc");
  if (!proc) {
    return -1;
  }
  pid_t found = -1;
  while (const dirent* entry = readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") == std::string::npos &&
        serves(command_line(pid), wanted)) {
      found = static_cast<pid_t>(std::stol(pid));
      break;
    }
  }
  closedir(proc);
  return found;
}

bool catches_signal(pid_t pid, int sig) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (sig - 1)) & 1u;
    }
  }
  return false;
}

bool process_exists(pid_t pid) {
  return pid > 0 && kill(pid, 0) == 0;
}

namespace {

// Whether every thread of the process is stopped: SIGSTOP is sent at once
// but taken by each thread on its own.
bool all_threads_stopped(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (!dir) {
    return false;
  }
  bool stopped = true;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') {
      continue;
    }
    std::ifstream stat(tasks + "/" + entry->d_name + "/stat");
    const std::string line((std::istreambuf_iterator<char>(stat)),
                           std::istreambuf_iterator<char>());
    const size_t name_end = line.rfind(')');
    const char state =
        name_end != std::string::npos && name_end + 2 < line.size() ? line[name_end + 2] : '?';
    stopped = stopped && (state == 'T' || state == 't');
  }
  closedir(dir);
  return stopped;
}

} // namespace

ServerFreeze::ServerFreeze(pid_t server_pid, std::chrono::milliseconds limit) {
  if (server_pid <= 0 || kill(server_pid, SIGSTOP) != 0) {
    return;
  }
  pid = server_pid;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!all_threads_stopped(server_pid) && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // A cycle the server started before it stopped still runs through its
  // clients, which wake each other; it is over well within this.
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  watchdog = std::thread([this, server_pid, limit] {
    std::unique_lock lock(mutex);
    if (!woken.wait_for(lock, limit, [this] { return done; })) {
      kill(server_pid, SIGCONT);
    }
  });
}

void ServerFreeze::stop_watchdog() {
  if (watchdog.joinable()) {
    {
      const std::lock_guard lock(mutex);
      done = true;
    }
    woken.notify_one();
    watchdog.join();
  }
}

void ServerFreeze::resume() {
  stop_watchdog();
  if (pid > 0) {
    kill(pid, SIGCONT);
    pid = -1;
  }
}

void ServerFreeze::forget() {
  stop_watchdog();
  pid = -1;
}

void freeze_for(pid_t server_pid, std::chrono::milliseconds length) {
  ServerFreeze freeze(server_pid);
  std::this_thread::sleep_for(length);
}
