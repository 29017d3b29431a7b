#pragma once

// What the targets share: one rig per target, opened once per process
// through the tests' rig with its manual backend, the reset that makes each
// input independent of the ones before it, and the checks of what the host
// must leave consistent whatever the input was.

#include "harness/host_rig.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

struct EventBuffer;

/// Stop the program, naming `what`, unless `condition` holds: libFuzzer
/// keeps the input as a crash, the replay test fails.
#define FUZZ_CHECK(condition, what) fuzz_check((condition), (what), __FILE__, __LINE__)
void fuzz_check(bool condition, const char* what, const char* file, int line);

/// A rig on the fixture or system plugin `uri`, opened with the manual
/// backend and activated, with the dump option when `dump` is set.  It is
/// never closed, so it lives until the process ends.  Stops the program when
/// the plugin cannot be opened.
HostRig* fuzz_open_rig(const char* uri, bool dump);

/// Back to the state after the open: nothing waiting in either ring, no
/// log lines, no recorded UI pass failures or pause acknowledgements, the
/// run state running and the front end's record empty.
void fuzz_reset(HostRig* rig);

/// Take every message in process_ring and check that each is one the audio
/// thread may send: a known type with a body of its type's size, an event
/// whose atom fills its body exactly.
void check_process_ring(HostRig* rig);

/// Check that the sequence in `buffer`, if any, lies within its event space
/// and that each event ends inside it.
void check_event_buffer(EventBuffer* buffer);

/// Reading an input front to back; past its end every value is zero.
class FuzzInput {
public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t byte();
  uint32_t u32();
  float f32();
  size_t remaining() const { return size_ - offset_; }
  /// The next `count` bytes (fewer when the input ends first).
  std::vector<uint8_t> take(size_t count);
  std::vector<uint8_t> rest() { return take(remaining()); }

private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};
