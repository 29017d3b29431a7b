// The audio thread's pass over ui_ring, fed with whatever bytes the ring
// may hold: headers of every type and of none, bodies of any size, and
// sizes that lie.  The io fixture has control, event and tempo ports, and
// echoes its event input, so a running cycle also carries what the pass
// appended through the plugin to process_ring.

#include "engine/event_buffer.hpp"
#include "engine/message.hpp"
#include "engine/process.hpp"
#include "fuzz_host.hpp"
#include "fuzz_targets.hpp"

#include <zix/ring.h>

int fuzz_ui_ring(const uint8_t* data, size_t size) {
  static HostRig* rig = fuzz_open_rig("urn:bexo:test:io", false);
  fuzz_reset(rig);
  ProcessState& process = rig->host.process;

  // The first byte chooses the cycle: paused (the pass alone) or running.
  FuzzInput input(data, size);
  const bool paused = input.byte() & 1U;
  std::vector<uint8_t> bytes = input.rest();
  const uint32_t room = zix_ring_write_space(process.ui_ring);
  if (bytes.size() > room) {
    bytes.resize(room);
  }
  if (!bytes.empty()) {
    zix_ring_write(process.ui_ring, bytes.data(), static_cast<uint32_t>(bytes.size()));
  }

  if (paused) {
    process.run_state.store(PAUSED);
    process_paused(&process, rig->host.settings.max_block_length);
  } else {
    rig->cycle();
  }

  // A pass that reports no failure has applied every message whole, so it
  // leaves nothing behind; one that failed stopped at a message that was
  // cut short or of no known type.
  int last_error = 0;
  const uint32_t failures = take_ui_pass_failures(&process, &last_error);
  const uint32_t left = zix_ring_read_space(process.ui_ring);
  if (!paused) {
    FUZZ_CHECK(failures <= 1, "one running cycle fails at most once");
    FUZZ_CHECK(failures == 1 || left == 0, "a pass without failure reads the whole ring");
  }
  for (const ProcessPort& port : process.ports) {
    if (port.event_buffer) {
      check_event_buffer(port.event_buffer);
    }
  }
  check_process_ring(rig);
  return 0;
}
