#include "fuzz_host.hpp"

#include "engine/event_buffer.hpp"
#include "engine/message.hpp"
#include "engine/process.hpp"
#include "frontend/test_frontend.hpp"
#include "fuzz_targets.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <zix/ring.h>
#include <zix/sem.h>

namespace {

// The control values each rig had after its open, put back before every
// input, since messages of one input may set any of them.
std::map<HostRig*, std::vector<float>>& opened_values() {
  static std::map<HostRig*, std::vector<float>> values;
  return values;
}

// As the test main does: the fixtures of this build and the system's
// bundles, and never a JACK server (the rigs run without one).
void set_environment() {
  static const bool done = [] {
    const std::string lv2_path = std::string(BEXO_FIXTURE_LV2_DIR) + ":" + BEXO_SYSTEM_LV2_DIR;
    setenv("LV2_PATH", lv2_path.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    setenv("JACK_DEFAULT_SERVER", "bexo-no-server", 1);
    return true;
  }();
  (void)done;
}

uint32_t read_u32(const uint8_t* bytes) {
  uint32_t value = 0;
  std::memcpy(&value, bytes, sizeof(value));
  return value;
}

} // namespace

void fuzz_check(bool condition, const char* what, const char* file, int line) {
  if (!condition) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::abort();
  }
}

void fuzz_quiet_stdout() {
  if (!std::freopen("/dev/null", "w", stdout)) {
    std::fprintf(stderr, "fuzz: cannot send standard output to /dev/null\n");
  }
}

HostRig* fuzz_open_rig(const char* uri, bool dump) {
  set_environment();
  auto* rig = new HostRig({"bexo"});
  rig->host.options.dump = dump ? 1 : 0;
  if (rig->open_manual(uri) || rig->activate()) {
    std::fprintf(stderr, "fuzz: cannot open %s\n", uri);
    for (const LogLine& line : rig->lines) {
      std::fprintf(stderr, "  %d %s\n", line.level, line.text.c_str());
    }
    std::abort();
  }
  FUZZ_CHECK(!dump || rig->host.atom_dumper, "the dump option makes an atom dumper");
  opened_values()[rig] = rig->host.process.control_values;
  fuzz_reset(rig);
  return rig;
}

void fuzz_reset(HostRig* rig) {
  ProcessState& process = rig->host.process;
  rig->discard_ui_messages();
  zix_ring_skip(process.process_ring, zix_ring_read_space(process.process_ring));
  int last_error = 0;
  take_ui_pass_failures(&process, &last_error);
  process.ui_pass_error.store(0);
  while (zix_sem_try_wait(&process.paused) == ZIX_STATUS_SUCCESS) {
  }
  process.run_state.store(RUNNING);
  process.control_values = opened_values()[rig];
  rig->lines.clear();
  test_frontend().shown.clear();
}

void check_process_ring(HostRig* rig) {
  ZixRing* ring = rig->host.process.process_ring;
  std::vector<uint8_t> body;
  while (const uint32_t space = zix_ring_read_space(ring)) {
    MessageHeader header{};
    FUZZ_CHECK(zix_ring_read(ring, &header, sizeof(header)) == sizeof(header),
               "process_ring holds whole headers");
    FUZZ_CHECK(space - sizeof(header) >= header.size, "process_ring holds whole bodies");
    body.assign(header.size, 0);
    if (header.size) {
      zix_ring_read(ring, body.data(), header.size);
    }
    switch (header.type) {
    case CONTROL_CHANGE:
      FUZZ_CHECK(header.size == sizeof(ControlChange), "a control message has its size");
      FUZZ_CHECK(read_u32(body.data()) < rig->host.num_ports, "a control message names a port");
      break;
    case LATENCY_CHANGE:
      FUZZ_CHECK(header.size == sizeof(float), "a latency message has its size");
      break;
    case EVENT_TRANSFER:
      FUZZ_CHECK(header.size >= 12 && read_u32(body.data() + 4) == header.size - 12,
                 "an event message's atom fills its body");
      FUZZ_CHECK(read_u32(body.data()) < rig->host.num_ports, "an event message names a port");
      break;
    default:
      FUZZ_CHECK(false, "the audio thread sends only control, latency and event messages");
    }
  }
}

void check_event_buffer(EventBuffer* buffer) {
  const LV2_Atom_Sequence* sequence = event_buffer_atom(buffer);
  if (sequence->atom.type != buffer->atom_Sequence) {
    return;
  }
  FUZZ_CHECK(sequence->atom.size >= sizeof(LV2_Atom_Sequence_Body) &&
                 sequence->atom.size <= event_buffer_capacity(buffer),
             "a host-written sequence fits its buffer");
  const uint32_t events = sequence->atom.size - sizeof(LV2_Atom_Sequence_Body);
  const auto* space = reinterpret_cast<const uint8_t*>(sequence + 1);
  for (uint32_t offset = 0; offset < events;) {
    FUZZ_CHECK(events - offset >= sizeof(LV2_Atom_Event), "an event header ends in its sequence");
    const auto* event = reinterpret_cast<const LV2_Atom_Event*>(space + offset);
    FUZZ_CHECK(event->body.size <= events - offset - sizeof(LV2_Atom_Event),
               "an event body ends in its sequence");
    offset += (sizeof(LV2_Atom_Event) + event->body.size + 7U) & ~7U;
  }
}

uint8_t FuzzInput::byte() {
  return offset_ < size_ ? data_[offset_++] : 0;
}

uint32_t FuzzInput::u32() {
  uint32_t value = 0;
  const std::vector<uint8_t> bytes = take(sizeof(value));
  if (!bytes.empty()) {
    std::memcpy(&value, bytes.data(), bytes.size());
  }
  return value;
}

float FuzzInput::f32() {
  const uint32_t bits = u32();
  float value = 0.0f;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

std::vector<uint8_t> FuzzInput::take(size_t count) {
  const size_t n = count < remaining() ? count : remaining();
  std::vector<uint8_t> bytes(data_ + offset_, data_ + offset_ + n);
  offset_ += n;
  return bytes;
}
