#pragma once

// Proof that the audio thread neither allocates, frees, locks nor waits.
// The test program that links realtime_guard.cpp replaces the allocator and
// the locking calls with versions that count every call made while a
// RealtimeSection is open on the calling thread.

#include <string>

class RealtimeSection {
public:
  RealtimeSection();
  ~RealtimeSection();
  RealtimeSection(const RealtimeSection&) = delete;
  RealtimeSection& operator=(const RealtimeSection&) = delete;
};

/// Calls counted since the last reset, on any thread inside a section.
int realtime_violations();

/// The name of the first counted call since the last reset, or "".
std::string first_realtime_violation();

void reset_realtime_violations();
