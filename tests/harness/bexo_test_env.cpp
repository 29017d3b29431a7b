// bexo-test-env: runs one test command with the private services it needs.
//
//   bexo-test-env [--jack] [--display] [--] COMMAND [ARGS...]
//
// --jack starts a JACK server of its own (dummy driver, 48 kHz, 256 frames,
// no real-time scheduling) under a name no user has, and hands that name to
// the command through JACK_DEFAULT_SERVER and BEXO_PRIVATE_JACK_SERVER.
// --display starts an Xvfb of its own, also when DISPLAY is set, so that a
// test never opens windows on the user's desktop.  Whatever happens to the
// command, both services are stopped before this program exits; and should
// this program itself be killed, the kernel ends them (PR_SET_PDEATHSIG).
// The exit status is the command's.

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <jack/jack.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t received_signal = 0;

void remember_signal(int sig) {
  received_signal = sig;
}

void install_forwarding_handlers() {
  struct sigaction action = {};
  action.sa_handler = remember_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(sig, &action, nullptr);
  }
}

// Starts argv in a child that dies with us.  stdout_fd and stderr_fd, when
// not -1, replace the child's streams; keep_fd stays open across exec.
// A child in a process group of its own is out of reach of the terminal's
// Ctrl-C: the services must outlive the command they serve, which the
// launcher ends first.
pid_t spawn(const std::vector<std::string>& args, int stdout_fd, int stderr_fd, int keep_fd,
            bool own_group) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) {
    return pid;
  }

  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) {
    _exit(127);
  }
  if (own_group) {
    setpgid(0, 0);
  }
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(sig, &dfl, nullptr);
  }
  if (stdout_fd != -1) {
    dup2(stdout_fd, STDOUT_FILENO);
  }
  if (stderr_fd != -1) {
    dup2(stderr_fd, STDERR_FILENO);
  }
  if (keep_fd != -1) {
    fcntl(keep_fd, F_SETFD, 0);
  }

  std::vector<char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  std::fprintf(stderr, "bexo-test-env: cannot run %s: %s\n", argv[0], std::strerror(errno));
  _exit(127);
}

// Waits for a child, at most until the deadline; true when it has ended.
bool wait_until(pid_t pid, int* status, Clock::time_point deadline) {
  for (;;) {
    const pid_t done = waitpid(pid, status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      return true;
    }
    if (Clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void stop(pid_t pid) {
  if (pid <= 0) {
    return;
  }
  int status = 0;
  kill(pid, SIGTERM);
  if (!wait_until(pid, &status, Clock::now() + std::chrono::seconds(5))) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
}

struct Services {
  pid_t jackd = -1;
  pid_t xvfb = -1;
  std::string jack_log;
  int jack_slot_lock = -1;

  ~Services() {
    stop(jackd);
    stop(xvfb);
    if (!jack_log.empty()) {
      unlink(jack_log.c_str());
    }
    if (jack_slot_lock >= 0) {
      close(jack_slot_lock);
    }
  }
};

// JACK 2 keeps a registry of at most 8 servers, and a server that was
// stopped under a client, or whose clients crashed, leaves its entry
// behind until a server of the same name starts again.  Private servers
// therefore take their names from a pool of 8, one per lock file held for
// the launcher's life, so that each stale entry is reclaimed by reuse.  The
// server inherits the lock, so a slot is free only once its server is gone
// too, even when the launcher was killed.
constexpr int jack_slots = 8;

// Takes a free slot and returns its server name, or "" when every slot
// stayed busy until `deadline`.
std::string take_jack_slot(Services& services, Clock::time_point deadline) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = tmp && *tmp ? tmp : "/tmp";
  while (Clock::now() < deadline) {
    for (int slot = 0; slot < jack_slots; ++slot) {
      const std::string path = dir + "/bexo-test-jack-slot-" + std::to_string(slot) + ".lock";
      const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
      if (fd < 0) {
        continue;
      }
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        services.jack_slot_lock = fd;
        return "bexo-test-" + std::to_string(slot);
      }
      close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return "";
}

void print_file(const std::string& path) {
  if (FILE* file = std::fopen(path.c_str(), "r")) {
    std::array<char, 4096> buf{};
    size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), file)) > 0) {
      std::fwrite(buf.data(), 1, n, stderr);
    }
    std::fclose(file);
  }
}

bool server_answers(const std::string& name) {
  jack_status_t status{};
  jack_client_t* client = jack_client_open(
      "bexo-test-env", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
      name.c_str());
  if (!client) {
    return false;
  }
  jack_client_close(client);
  return true;
}

bool start_jack(Services& services) {
  const std::string name = take_jack_slot(services, Clock::now() + std::chrono::seconds(60));
  if (name.empty()) {
    std::fprintf(stderr, "bexo-test-env: every private JACK server slot is busy\n");
    return false;
  }
  char log_path[] = "/tmp/bexo-test-jackd-XXXXXX";
  const int log_fd = mkstemp(log_path);
  if (log_fd < 0) {
    std::perror("bexo-test-env: jackd log");
    return false;
  }
  services.jack_log = log_path;
  services.jackd =
      spawn({"jackd", "--no-realtime", "--name", name, "-d", "dummy", "-r", "48000", "-p", "256"},
            log_fd, log_fd, services.jack_slot_lock, true);
  close(log_fd);

  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(15);
  while (!server_answers(name)) {
    int status = 0;
    if (waitpid(services.jackd, &status, WNOHANG) == services.jackd || Clock::now() >= deadline) {
      std::fprintf(stderr, "bexo-test-env: the JACK server %s did not start:\n", name.c_str());
      print_file(services.jack_log);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  setenv("BEXO_PRIVATE_JACK_SERVER", name.c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  return true;
}

bool start_display(Services& services) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    std::perror("bexo-test-env: pipe");
    return false;
  }
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  services.xvfb = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                         "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                        devnull, devnull, fds[1], true);
  close(fds[1]);
  close(devnull);

  // Xvfb writes the display number it chose, then a newline, once it accepts
  // connections.
  std::string number;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(15);
  char c = 0;
  while (Clock::now() < deadline) {
    pollfd pfd = {fds[0], POLLIN, 0};
    if (poll(&pfd, 1, 100) <= 0) {
      continue;
    }
    if (read(fds[0], &c, 1) != 1 || c == '\n') {
      break;
    }
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    std::fprintf(stderr, "bexo-test-env: Xvfb did not start\n");
    return false;
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return true;
}

int exit_status(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  return 1;
}

// Waits for the command, passing our interrupts on to its process group.
// After an interrupt it gets ten seconds to finish before it is killed.
int run_command(const std::vector<std::string>& command) {
  const pid_t child = spawn(command, -1, -1, -1, true);
  setpgid(child, child);

  int status = 0;
  int forwarded = 0;
  Clock::time_point kill_deadline = Clock::time_point::max();
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) {
      break;
    }
    if (done < 0 && errno != EINTR) {
      return 1;
    }
    const int sig = received_signal;
    if (sig != 0 && sig != forwarded) {
      kill(-child, sig);
      forwarded = sig;
      kill_deadline = Clock::now() + std::chrono::seconds(10);
    }
    if (Clock::now() >= kill_deadline) {
      kill(-child, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return exit_status(status);
}

int usage() {
  std::fprintf(stderr, "usage: bexo-test-env [--jack] [--display] [--] COMMAND [ARGS...]\n");
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  bool want_jack = false;
  bool want_display = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--jack") {
      want_jack = true;
    } else if (arg == "--display") {
      want_display = true;
    } else if (arg == "--") {
      ++i;
      break;
    } else if (arg.rfind("--", 0) == 0) {
      return usage();
    } else {
      break;
    }
  }
  if (i >= argc) {
    return usage();
  }
  const std::vector<std::string> command(argv + i, argv + argc);

  install_forwarding_handlers();
  Services services;
  if (want_display && !start_display(services)) {
    return 1;
  }
  if (want_jack && !start_jack(services)) {
    return 1;
  }
  if (received_signal != 0) {
    return 128 + received_signal;
  }
  return run_command(command);
}
