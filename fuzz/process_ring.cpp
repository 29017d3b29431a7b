// The main thread's pass over process_ring, fed with what a faulty plugin's
// output (or a corrupted ring) would leave there: any headers, bodies and
// atoms.  The params fixture has properties, so patch messages reach the
// property controls, and the dump option makes the atom dumper print every
// event (to standard output, which the fuzzer programs discard).

#include "engine/message.hpp"
#include "fuzz_host.hpp"
#include "fuzz_targets.hpp"
#include "ui/ui_update.hpp"

#include <zix/ring.h>

int fuzz_process_ring(const uint8_t* data, size_t size) {
  static HostRig* rig = fuzz_open_rig("urn:bexo:test:params", true);
  fuzz_reset(rig);
  ZixRing* ring = rig->host.process.process_ring;

  const uint32_t room = zix_ring_write_space(ring);
  const auto length = static_cast<uint32_t>(size < room ? size : room);
  if (length) {
    zix_ring_write(ring, data, length);
  }
  deliver_plugin_output(&rig->host);

  // Every message is delivered or skipped whole; only one that cannot be
  // read ends the pass early, and that is logged as an error.
  const bool failed = !rig->logged(LOG_LEVEL_ERROR).empty();
  FUZZ_CHECK(failed || zix_ring_read_space(ring) == 0,
             "a delivery without errors reads the whole ring");
  FUZZ_CHECK(!rig->host.ui_updating, "the delivery ends its update");
  return 0;
}
