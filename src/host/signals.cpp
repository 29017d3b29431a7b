#include "host/signals.hpp"

#include <csignal>

namespace {

ZixSem* quit_semaphore = nullptr;

} // namespace

void set_quit_semaphore(ZixSem* quit_sem) {
  quit_semaphore = quit_sem;
}

int install_signal_handler() {
  struct sigaction action = {};
  action.sa_handler = signal_handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  const bool failed =
      sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0;
  return failed ? 1 : 0;
}

void signal_handler(int sig) {
  if (quit_semaphore && (sig == SIGINT || sig == SIGTERM)) {
    zix_sem_post(quit_semaphore);
  }
}
