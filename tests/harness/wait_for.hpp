#pragma once

// Waiting, in tests, for something another thread or process makes true.

#include <chrono>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

/// Waits until `done` holds, checking every millisecond; false on timeout.
inline bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(1ms);
  }
  return true;
}
