#pragma once

// Waiting, in tests, for something another thread or process makes true.

#include <chrono>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

/// Waits until `done` holds, checking `every` so often (every millisecond
/// unless told otherwise); false on timeout.
inline bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s,
                     std::chrono::milliseconds every = 1ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(every);
  }
  return true;
}

/// wait_for at a pace that suits checks which ask the X server or read
/// files, each of which costs a process or more.
inline bool soon(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  return wait_for(done, limit, 50ms);
}
