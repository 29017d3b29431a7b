// A hostile plugin UI: port writes with any port index, size, protocol and
// bytes, as suil hands them to the host.  The buffer is always exactly as
// long as the size the UI claims, since the host cannot check that.  A
// running cycle after each write drains ui_ring, so the target measures the
// write and what the audio thread makes of it rather than a full ring.

#include "engine/message.hpp"
#include "engine/process.hpp"
#include "fuzz_host.hpp"
#include "fuzz_targets.hpp"
#include "ui/ui_update.hpp"

#include <cstring>
#include <memory>
#include <zix/ring.h>

namespace {

struct Write {
  uint32_t port_index;
  uint32_t protocol;
  std::vector<uint8_t> bytes;
};

// Byte 0: the port (bit 7: any index from the next four bytes, else one of
// the plugin's ports or the first index past them).  Byte 1: the protocol
// (0, atom:eventTransfer, or any from the next four bytes).  Byte 2: for
// events, bit 0 makes the atom's size agree with the buffer; for values,
// bit 0 gives the float's four bytes, else up to 127 bytes.  The rest is the
// buffer.
Write read_write(FuzzInput& input, const Host& host) {
  Write write{};
  const uint8_t port = input.byte();
  write.port_index = port & 0x80U ? input.u32() : port % (host.num_ports + 1);
  const uint8_t protocol = input.byte();
  const uint32_t event_transfer = host.urids.atom_eventTransfer;
  write.protocol = protocol % 4 == 0 ? 0 : protocol % 4 < 3 ? event_transfer : input.u32();
  const uint8_t shape = input.byte();
  if (write.protocol == 0) {
    write.bytes = input.take(shape & 1U ? sizeof(float) : shape >> 1U);
  } else {
    write.bytes = input.rest();
    if (shape & 1U && write.bytes.size() >= sizeof(LV2_Atom)) {
      const auto atom_size = static_cast<uint32_t>(write.bytes.size() - sizeof(LV2_Atom));
      std::memcpy(write.bytes.data(), &atom_size, sizeof(atom_size));
    }
  }
  return write;
}

bool is_control_input(const ProcessState& process, uint32_t index) {
  return index < process.num_ports && process.ports[index].type == TYPE_CONTROL &&
         process.ports[index].flow == FLOW_INPUT;
}

} // namespace

int fuzz_ui_write(const uint8_t* data, size_t size) {
  static HostRig* rig = fuzz_open_rig("urn:bexo:test:params", true);
  fuzz_reset(rig);
  ProcessState& process = rig->host.process;

  FuzzInput input(data, size);
  const Write write = read_write(input, rig->host);
  // A block of exactly the claimed size, so that a read past it is caught.
  const size_t length = write.bytes.size();
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[length ? length : 1]);
  if (length) {
    std::memcpy(buffer.get(), write.bytes.data(), length);
  }
  plugin_ui_write(&rig->host, write.port_index, static_cast<uint32_t>(length), write.protocol,
                  buffer.get());
  const bool refused = !rig->logged(LOG_LEVEL_ERROR).empty();

  rig->cycle();
  // The host writes only whole messages of known types, whatever the UI
  // sent, so the audio thread applies all of them without a failure.
  int last_error = 0;
  FUZZ_CHECK(take_ui_pass_failures(&process, &last_error) == 0,
             "the audio thread reads every message the UI side wrote");
  FUZZ_CHECK(zix_ring_read_space(process.ui_ring) == 0, "a cycle drains ui_ring");
  if (!refused && write.protocol == 0 && is_control_input(process, write.port_index)) {
    float value = 0.0f;
    std::memcpy(&value, buffer.get(), sizeof(value));
    FUZZ_CHECK(std::memcmp(&process.control_values[write.port_index], &value, sizeof(value)) == 0,
               "an accepted value reaches its control input");
  }
  check_process_ring(rig);
  return 0;
}
