#pragma once

// The private JACK server of bexo-test-env as a thing a fault test can
// stop, let go on and look at: the server a test starts a client on is the
// one whose process it freezes, so that the host sees exactly what a server
// that hangs or overruns looks like from outside.

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

/// The message a restore logs when the server ran no cycle while it waited.
inline constexpr char gave_up_restoring[] =
    "Gave up restoring the state: the audio server ran no cycle for 3 seconds";

/// The pid of the jackd process serving the server named `name` (the
/// launcher's when empty: BEXO_PRIVATE_JACK_SERVER); -1 when there is none.
/// Only a server of the launcher or of the test is ever looked for, never
/// a user's.
pid_t jack_server_pid(const std::string& name = "");

/// Whether `pid` has a handler installed for signal `sig` (from
/// /proc/<pid>/status): the moment from which a signal is caught rather
/// than fatal.
bool catches_signal(pid_t pid, int sig);

/// Whether a process of the pid still exists (it may be a zombie).
bool process_exists(pid_t pid);

/// A server frozen with SIGSTOP for the object's life, or until resume();
/// once constructed, every thread of it is stopped and the cycle it may
/// have been running has ended in its clients, so no client runs another.
/// SIGCONT is sent whatever happens to the test meanwhile, so a failing
/// check never leaves the server stopped under the rest of the program.
/// A watchdog sends it after `limit` even while the test's thread is stuck
/// (in a restore that waits for a cycle for ever, say), since a server left
/// stopped outlives the test and ignores the launcher's SIGTERM.
class ServerFreeze {
public:
  explicit ServerFreeze(pid_t server_pid,
                        std::chrono::milliseconds limit = std::chrono::seconds(12));
  ~ServerFreeze() { resume(); }
  ServerFreeze(const ServerFreeze&) = delete;
  ServerFreeze& operator=(const ServerFreeze&) = delete;

  bool frozen() const { return pid > 0; }
  void resume();
  /// For a server the test killed while frozen: its pid may be reused.
  void forget();

private:
  void stop_watchdog();

  pid_t pid = -1;
  std::mutex mutex;
  std::condition_variable woken;
  bool done = false;
  std::thread watchdog;
};

/// Freezes the server for `length`, then lets it go on.
void freeze_for(pid_t server_pid, std::chrono::milliseconds length);

/// The seconds since `start`, for timing a step.
inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
