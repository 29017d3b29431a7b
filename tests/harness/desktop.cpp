#include "harness/desktop.hpp"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// Retries `find` until it gives a non-empty result or `limit` passes.
template <typename Find>
auto poll_until(std::chrono::milliseconds limit, Find find) {
  const auto end = Clock::now() + limit;
  for (;;) {
    auto found = find();
    if (!found.empty() || Clock::now() >= end) {
      return found;
    }
    std::this_thread::sleep_for(100ms);
  }
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) {
      lines.push_back(line);
    }
  }
  return lines;
}

// Reads a binary PPM (P6, maxval 255) as ImageMagick writes it.
Picture parse_ppm(const std::vector<uint8_t>& data) {
  Picture picture;
  size_t pos = 0;
  const auto token = [&]() {
    while (pos < data.size() && std::isspace(data[pos])) {
      ++pos;
    }
    std::string t;
    while (pos < data.size() && !std::isspace(data[pos])) {
      t += static_cast<char>(data[pos++]);
    }
    return t;
  };
  if (token() != "P6") {
    return picture;
  }
  const int width = std::atoi(token().c_str());
  const int height = std::atoi(token().c_str());
  const int maxval = std::atoi(token().c_str());
  ++pos; // the single white space before the pixels
  const size_t size = static_cast<size_t>(width) * height * 3;
  if (maxval != 255 || width <= 0 || height <= 0 || data.size() < pos + size) {
    return picture;
  }
  picture.width = width;
  picture.height = height;
  picture.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(pos),
                     data.begin() + static_cast<std::ptrdiff_t>(pos + size));
  return picture;
}

} // namespace

std::string shell(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe)) {
      output += buffer.data();
    }
    pclose(pipe);
  }
  while (!output.empty() && output.back() == '\n') {
    output.pop_back();
  }
  return output;
}

pid_t start_program(const std::string& path, const std::vector<std::string>& args,
                    const std::vector<std::string>& extra_env, const std::string& output_file) {
  std::vector<std::string> arg_strings{path};
  arg_strings.insert(arg_strings.end(), args.begin(), args.end());

  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& extra : extra_env) {
      replaced = replaced || extra.substr(0, extra.find('=')) == name;
    }
    if (!replaced) {
      env_strings.push_back(entry);
    }
  }
  env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());

  const auto pointers = [](std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings) {
      p.push_back(s.data());
    }
    p.push_back(nullptr);
    return p;
  };
  std::vector<char*> argv = pointers(arg_strings);
  std::vector<char*> envp = pointers(env_strings);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!output_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return failed ? -1 : pid;
}

int exit_status(pid_t pid, std::chrono::seconds limit) {
  int status = 0;
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(50ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

TempHome::TempHome() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/bexo-home-XXXXXX";
  if (mkdtemp(pattern.data())) {
    dir = pattern;
  }
}

ProgramRun::ProgramRun(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>& extra_env, bool capture) {
  std::vector<std::string> env = home.env();
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  pid = start_program(program, args, env, capture ? output_path() : "");
}

ProgramRun::~ProgramRun() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

int ProgramRun::exit_status(std::chrono::seconds limit) {
  const int status = ::exit_status(pid, limit);
  pid = -1;
  return status;
}

int ProgramRun::terminate() {
  kill(pid, SIGTERM);
  return exit_status();
}

std::string ProgramRun::output() const {
  std::ifstream in(output_path());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TempHome::~TempHome() {
  if (!dir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
}

std::vector<std::string> TempHome::env() const {
  return {
      "HOME=" + dir,
      "XDG_CONFIG_HOME=" + dir + "/.config",
      "XDG_DATA_HOME=" + dir + "/.local/share",
      "XDG_STATE_HOME=" + dir + "/.local/state",
      "XDG_CACHE_HOME=" + dir + "/.cache",
      // A unique GTK application would hand its command line to a running
      // instance of the user's through the session bus; and GSettings would
      // write to the user's settings daemon.
      "DBUS_SESSION_BUS_ADDRESS=disabled:",
      "GSETTINGS_BACKEND=memory",
      "NO_AT_BRIDGE=1",
  };
}

std::string window_of(const std::string& title, std::chrono::milliseconds limit) {
  std::string pattern; // xdotool matches titles as regular expressions
  for (const char c : title) {
    if (std::strchr("()[]{}.*+?^$|\\", c)) {
      pattern += '\\';
    }
    pattern += c;
  }
  return poll_until(limit, [&] {
    return shell("xdotool search --onlyvisible --name '^" + pattern + "$' 2>/dev/null | head -1");
  });
}

std::vector<std::string> windows_of_pid(pid_t pid, std::chrono::milliseconds limit) {
  return poll_until(limit, [&] {
    return lines_of(
        shell("xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null"));
  });
}

std::string text_property(const std::string& window, const std::string& property) {
  // "WM_WINDOW_ROLE(STRING) = "plugin_ui""
  const std::string text = shell("xprop -id " + window + " " + property + " 2>/dev/null");
  const size_t open = text.find(" = \"");
  const size_t close = text.rfind('"');
  if (open == std::string::npos || close <= open + 3) {
    return "";
  }
  return text.substr(open + 4, close - open - 4);
}

bool has_property(const std::string& window, const std::string& property) {
  const std::string text = shell("xprop -id " + window + " " + property + " 2>/dev/null");
  return !text.empty() && text.find("not found") == std::string::npos &&
         text.find("no such atom") == std::string::npos;
}

Geometry geometry_of(const std::string& window) {
  Geometry g;
  const std::string text = shell("xwininfo -id " + window + " 2>/dev/null");
  const auto read = [&](const char* key, int* value) {
    const size_t pos = text.find(key);
    if (pos != std::string::npos) {
      *value = std::atoi(text.c_str() + pos + std::strlen(key));
    }
  };
  read("Absolute upper-left X:", &g.x);
  read("Absolute upper-left Y:", &g.y);
  read("Width:", &g.width);
  read("Height:", &g.height);
  return g;
}

std::vector<std::string> descendants_of(const std::string& window) {
  std::vector<std::string> ids;
  // Each window of the tree is a line "     0x1a00003 "name": (...) ..."
  // below the header that names `window` itself.
  const std::vector<std::string> lines = lines_of(shell("xwininfo -tree -id " + window));
  for (const std::string& line : lines) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos || line.compare(start, 2, "0x") != 0 ||
        line.find("xwininfo:") != std::string::npos) {
      continue;
    }
    ids.push_back(line.substr(start, line.find(' ', start) - start));
  }
  return ids;
}

void screenshot(const std::string& window, const std::string& name, const std::string& directory) {
  std::filesystem::create_directories(directory);
  shell("import -window " + window + " '" + directory + "/" + name + ".png'");
}

bool fixed_size(const std::string& window) {
  const std::string hints = shell("xprop -id " + window + " WM_NORMAL_HINTS");
  const auto at = [&](const std::string& key) {
    const size_t pos = hints.find(key);
    if (pos == std::string::npos) {
      return std::string();
    }
    const size_t start = pos + key.size();
    return hints.substr(start, hints.find('\n', start) - start);
  };
  const std::string min = at("program specified minimum size: ");
  return !min.empty() && min == at("program specified maximum size: ");
}

void focus(const std::string& window) {
  shell("xdotool windowfocus --sync " + window + " 2>/dev/null");
  std::this_thread::sleep_for(200ms);
}

void press_keys(const std::string& keys) {
  shell("xdotool key --clearmodifiers " + keys);
}

void click(const std::string& window, int x, int y, int count, int button) {
  shell("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
        " click --repeat " + std::to_string(count) + " --delay 80 " + std::to_string(button));
}

Picture capture(const std::string& window) {
  std::vector<uint8_t> data;
  if (FILE* pipe =
          popen(("import -window " + window + " -depth 8 ppm:- 2>/dev/null").c_str(), "r")) {
    std::array<uint8_t, 65536> buffer{};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
      data.insert(data.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
    }
    pclose(pipe);
  }
  return parse_ppm(data);
}

std::vector<std::string> jack_ports(const std::string& server) {
  return lines_of(
      shell("jack_lsp" + (server.empty() ? "" : " -s '" + server + "'") + " 2>/dev/null"));
}

bool has_jack_ports(const std::string& client, const std::string& server) {
  for (const std::string& port : jack_ports(server)) {
    if (port.rfind(client + ":", 0) == 0) {
      return true;
    }
  }
  return false;
}
