// An event output as a faulty plugin leaves it: the io fixture runs, then
// its event output's buffer is overwritten with the input, sequence header
// and all (a size that lies, events whose sizes run past the end), and the
// host does what it does after every run: process_cycle_end walks the
// output, hands each event to the backend's sink and sends it to the UI
// side.  Every event the walk yields must lie inside the buffer.

#include "engine/event_buffer.hpp"

#include "engine/cycle.hpp"
#include "engine/process.hpp"
#include "fuzz_host.hpp"
#include "fuzz_targets.hpp"

#include <cstring>
#include <lv2/atom/atom.h>

namespace {

uint32_t events_out_index(const ProcessState& process) {
  for (uint32_t i = 0; i < process.num_ports; ++i) {
    if (process.ports[i].symbol == "events_out") {
      return i;
    }
  }
  FUZZ_CHECK(false, "the io fixture has an event output");
  return 0;
}

// The bytes the walk may hand out: the event space, as far as both the
// block and the sequence the plugin declared reach.
struct Bounds {
  const uint8_t* begin;
  const uint8_t* end;
};

Bounds event_bounds(EventBuffer* buffer) {
  const LV2_Atom_Sequence* sequence = event_buffer_atom(buffer);
  const auto* begin = reinterpret_cast<const uint8_t*>(sequence + 1);
  const uint64_t block_space = uint64_t{event_buffer_capacity(buffer)} + 16U;
  const uint64_t declared = sequence->atom.size > sizeof(LV2_Atom_Sequence_Body)
                                ? sequence->atom.size - sizeof(LV2_Atom_Sequence_Body)
                                : 0U;
  return {begin, begin + (declared < block_space ? declared : block_space)};
}

void check_event(const Bounds& bounds, uint32_t size, const void* data) {
  const auto* body = static_cast<const uint8_t*>(data);
  FUZZ_CHECK(body >= bounds.begin + sizeof(LV2_Atom_Event) && body <= bounds.end,
             "an event of the walk starts inside its buffer");
  FUZZ_CHECK(size <= static_cast<size_t>(bounds.end - body),
             "an event of the walk ends inside its buffer");
}

struct SinkData {
  Bounds bounds;
  uint32_t events;
};

void sink_event(void* data, const ProcessPort&, uint32_t, uint32_t, uint32_t size,
                const void* body) {
  auto* sink = static_cast<SinkData*>(data);
  check_event(sink->bounds, size, body);
  ++sink->events;
}

} // namespace

int fuzz_event_buffer(const uint8_t* data, size_t size) {
  static HostRig* rig = fuzz_open_rig("urn:bexo:test:io", false);
  static const uint32_t out = events_out_index(rig->host.process);
  fuzz_reset(rig);
  ProcessState& process = rig->host.process;
  const uint32_t nframes = rig->host.settings.max_block_length;

  process_cycle_begin(&process, nframes, &rig->transport);
  const int status = process_run(&process, nframes);

  // Byte 0, bit 0: any atom type from the next four bytes, else a
  // sequence; bit 1: any atom size from the next four, else the size of
  // what follows.  The rest is the sequence body as far as the space the
  // host announced to the plugin.
  FuzzInput input(data, size);
  const uint8_t shape = input.byte();
  EventBuffer* buffer = process.ports[out].event_buffer;
  LV2_Atom_Sequence* sequence = event_buffer_atom(buffer);
  const uint32_t type = shape & 1U ? input.u32() : buffer->atom_Sequence;
  const uint32_t claimed = shape & 2U ? input.u32() : 0U;
  const std::vector<uint8_t> body = input.take(event_buffer_capacity(buffer));
  if (!body.empty()) {
    std::memcpy(&sequence->body, body.data(), body.size());
  }
  sequence->atom.type = type;
  sequence->atom.size = shape & 2U ? claimed : static_cast<uint32_t>(body.size());

  SinkData sink_data{event_bounds(buffer), 0};
  const OutputEventSink sink{sink_event, &sink_data};
  process_cycle_end(&process, status, &sink);

  uint32_t walked = 0;
  event_buffer_for_each(buffer, [&](uint32_t, uint32_t, uint32_t event_size, const void* event) {
    check_event(sink_data.bounds, event_size, event);
    ++walked;
  });
  FUZZ_CHECK(walked == sink_data.events, "the sink sees every event of the walk");
  check_process_ring(rig);
  return 0;
}
