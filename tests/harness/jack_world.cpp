#include "harness/jack_world.hpp"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <jack/midiport.h>
#include <sys/prctl.h>
#include <unistd.h>

pid_t start_jack_server(const std::string& name) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
      _exit(127);
    }
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
    execlp("jackd", "jackd", "--no-realtime", "--name", name.c_str(), "-d", "dummy", "-r", "48000",
           "-p", "256", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

float stream_sample(uint64_t n, uint32_t channel) {
  const auto v = std::ldexp(static_cast<float>((n & 0xFFFFF) + 1), -20);
  return channel % 2 ? -v : v;
}

int64_t stream_frame(float sample, uint32_t channel, float gain) {
  const float v = (channel % 2 ? -sample : sample) / gain;
  const float scaled = std::ldexp(v, 20);
  if (!(scaled >= 1.0f && scaled <= 1048576.0f) || scaled != std::floor(scaled)) {
    return -1;
  }
  // The product must be exactly what the plugin made from this frame.
  const auto n = static_cast<int64_t>(scaled) - 1;
  return stream_sample(static_cast<uint64_t>(n), channel) * gain == sample ? n : -1;
}

bool connect_ports(jack_client_t* client, const std::string& from, const std::string& to) {
  return jack_connect(client, from.c_str(), to.c_str()) == 0;
}

TestClient::TestClient(const char* name, int audio_ports, int midi_ports, bool outputs) {
  client = jack_client_open(name, JackUseExactName, nullptr);
  if (!client) {
    return;
  }
  const unsigned long flags = outputs ? JackPortIsOutput : JackPortIsInput;
  for (int i = 0; i < audio_ports; ++i) {
    audio.push_back(jack_port_register(client, ("audio_" + std::to_string(i)).c_str(),
                                       JACK_DEFAULT_AUDIO_TYPE, flags, 0));
  }
  for (int i = 0; i < midi_ports; ++i) {
    midi.push_back(jack_port_register(client, ("midi_" + std::to_string(i)).c_str(),
                                      JACK_DEFAULT_MIDI_TYPE, flags, 0));
  }
  jack_set_process_callback(client, process_entry, this);
  jack_set_xrun_callback(client, xrun_entry, this);
}

int TestClient::xrun_entry(void* data) {
  static_cast<TestClient*>(data)->xruns.fetch_add(1);
  return 0;
}

TestClient::~TestClient() {
  // Subclasses deactivate first, so no cycle reaches a half-destroyed object.
  if (client) {
    jack_client_close(client);
  }
}

bool TestClient::activate() {
  return client && jack_activate(client) == 0;
}

std::string TestClient::audio_name(int i) const {
  return jack_port_name(audio[i]);
}

std::string TestClient::midi_name(int i) const {
  return jack_port_name(midi[i]);
}

int TestClient::process_entry(jack_nframes_t nframes, void* data) {
  auto* self = static_cast<TestClient*>(data);
  self->process(nframes);
  self->cycles.fetch_add(1, std::memory_order_release);
  return 0;
}

// ---------------------------------------------------------------------------

Source::Source(int audio_ports, int midi_ports)
    : TestClient("bexo-test-source", audio_ports, midi_ports, true) {
  queue = jack_ringbuffer_create(64 * sizeof(Queued));
  sent.resize(1 << 16);
  capture_latency.resize(audio_ports, jack_latency_range_t{0, 0});
  if (client) {
    jack_set_latency_callback(client, latency, this);
  }
}

Source::~Source() {
  if (client) {
    jack_deactivate(client);
  }
  jack_ringbuffer_free(queue);
}

bool Source::queue_midi(uint32_t port, uint32_t offset, const std::vector<uint8_t>& bytes) {
  Queued q{port, offset, static_cast<uint32_t>(bytes.size()), {}};
  std::memcpy(q.bytes, bytes.data(), std::min<size_t>(bytes.size(), sizeof(q.bytes)));
  if (jack_ringbuffer_write_space(queue) < sizeof(q)) {
    return false;
  }
  jack_ringbuffer_write(queue, reinterpret_cast<const char*>(&q), sizeof(q));
  return true;
}

std::vector<MidiRecord> Source::sent_midi() const {
  const size_t n = sent_count.load(std::memory_order_acquire);
  return {sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(n)};
}

bool Source::become_master() {
  return jack_set_timebase_callback(client, 0, timebase, this) == 0;
}

void Source::process(jack_nframes_t nframes) {
  const uint64_t first = stream_frames.load(std::memory_order_relaxed);
  const bool quiet = silent.load();
  for (size_t c = 0; c < audio.size(); ++c) {
    auto* out = static_cast<float*>(jack_port_get_buffer(audio[c], nframes));
    for (jack_nframes_t i = 0; i < nframes; ++i) {
      out[i] = quiet ? 0.0f : stream_sample(first + i, static_cast<uint32_t>(c));
    }
  }
  stream_frames.store(first + nframes, std::memory_order_relaxed);

  std::vector<void*>::size_type count = midi.size();
  void* buffers[4] = {};
  for (size_t m = 0; m < count && m < 4; ++m) {
    buffers[m] = jack_port_get_buffer(midi[m], nframes);
    jack_midi_clear_buffer(buffers[m]);
  }
  const jack_nframes_t now = jack_last_frame_time(client);
  if (midi_every_cycle.load() && count > 0) {
    const uint32_t n = notes_sent.load(std::memory_order_relaxed);
    const uint8_t note[3] = {0x90, static_cast<uint8_t>(n % 128), 100};
    if (jack_midi_event_write(buffers[0], 0, note, sizeof(note)) == 0) {
      notes_sent.store(n + 1, std::memory_order_release);
    }
  }
  if (burst_ready.load(std::memory_order_acquire) && count > 0) {
    for (const std::vector<uint8_t>& event : burst) {
      jack_midi_event_write(buffers[0], 0, event.data(), event.size());
    }
    burst_ready.store(false, std::memory_order_release);
  }
  Queued q{};
  while (jack_ringbuffer_read_space(queue) >= sizeof(q)) {
    jack_ringbuffer_read(queue, reinterpret_cast<char*>(&q), sizeof(q));
    const uint32_t offset = std::min(q.offset, nframes - 1);
    if (q.port < count && q.port < 4 &&
        jack_midi_event_write(buffers[q.port], offset, q.bytes, q.size) == 0) {
      const size_t n = sent_count.load(std::memory_order_relaxed);
      if (n < sent.size()) {
        MidiRecord& r = sent[n];
        r.time = now + offset;
        r.size = q.size;
        std::memcpy(r.bytes, q.bytes, sizeof(r.bytes));
        sent_count.store(n + 1, std::memory_order_release);
      }
    }
  }
}

void Source::timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int,
                      void* data) {
  auto* self = static_cast<Source*>(data);
  if (!self->bbt.load()) {
    pos->valid = static_cast<jack_position_bits_t>(0);
    return;
  }
  // 4/4 at the present tempo, counted from frame 0.
  const double bpm = self->bpm.load();
  const double beats = pos->frame * bpm / (60.0 * pos->frame_rate);
  pos->valid = JackPositionBBT;
  pos->beats_per_bar = 4.0f;
  pos->beat_type = 4.0f;
  pos->ticks_per_beat = 1920.0;
  pos->beats_per_minute = bpm;
  pos->bar = static_cast<int32_t>(beats / 4.0) + 1;
  pos->beat = static_cast<int32_t>(std::fmod(beats, 4.0)) + 1;
  pos->tick = static_cast<int32_t>((beats - std::floor(beats)) * 1920.0);
  pos->bar_start_tick = 0.0;
}

void Source::latency(jack_latency_callback_mode_t mode, void* data) {
  auto* self = static_cast<Source*>(data);
  if (mode == JackCaptureLatency) {
    for (size_t i = 0; i < self->audio.size(); ++i) {
      jack_port_set_latency_range(self->audio[i], mode, &self->capture_latency[i]);
    }
  }
}

// ---------------------------------------------------------------------------

Sink::Sink(int audio_ports, int midi_ports, size_t capacity_frames)
    : TestClient("bexo-test-sink", audio_ports, midi_ports, false), capacity(capacity_frames),
      audio_data(audio_ports, std::vector<float>(capacity_frames)), midi_data(1 << 16),
      transport_data(1 << 16), checks(new StreamCheck[std::max(audio_ports, 1)]) {
  playback_latency.resize(audio_ports, jack_latency_range_t{0, 0});
  if (client) {
    jack_set_latency_callback(client, latency, this);
  }
}

Sink::~Sink() {
  if (client) {
    jack_deactivate(client);
  }
}

void Sink::arm() {
  armed.store(false);
  frames.store(0);
  midi_count.store(0);
  transport_count.store(0);
  armed.store(true);
}

void Sink::disarm() {
  armed.store(false);
}

std::vector<float> Sink::recorded_audio(int port) const {
  const size_t n = frames.load(std::memory_order_acquire);
  return {audio_data[port].begin(), audio_data[port].begin() + static_cast<std::ptrdiff_t>(n)};
}

std::vector<MidiRecord> Sink::recorded_midi() const {
  const size_t n = midi_count.load(std::memory_order_acquire);
  return {midi_data.begin(), midi_data.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::vector<TransportRecord> Sink::recorded_transport() const {
  const size_t n = transport_count.load(std::memory_order_acquire);
  return {transport_data.begin(), transport_data.begin() + static_cast<std::ptrdiff_t>(n)};
}

void Sink::check_stream(int port, uint32_t channel, float gain) {
  StreamCheck& check = checks[port];
  check.on.store(false);
  check.channel = channel;
  check.gain = gain;
  check.next = -1;
  check.checked.store(0);
  check.bad.store(0);
  check.breaks.store(0);
  check.on.store(true);
}

void Sink::process(jack_nframes_t nframes) {
  const jack_nframes_t now = jack_last_frame_time(client);
  for (size_t c = 0; c < audio.size(); ++c) {
    StreamCheck& check = checks[c];
    if (!check.on.load()) {
      continue;
    }
    const auto* in = static_cast<const float*>(jack_port_get_buffer(audio[c], nframes));
    for (jack_nframes_t i = 0; i < nframes; ++i) {
      const int64_t n = stream_frame(in[i], check.channel, check.gain);
      if (check.next < 0) {
        if (n >= 0) {
          check.next = (n + 1) & 0xFFFFF;
          check.checked.fetch_add(1);
        }
        continue;
      }
      check.checked.fetch_add(1);
      if (n < 0) {
        check.bad.fetch_add(1); // not a product of any frame of the stream
        check.next = (check.next + 1) & 0xFFFFF;
      } else if (n != check.next) {
        check.breaks.fetch_add(1); // frames skipped or repeated: follow the stream again
        check.next = (n + 1) & 0xFFFFF;
      } else {
        check.next = (check.next + 1) & 0xFFFFF;
      }
    }
  }

  if (!armed.load()) {
    return;
  }
  const size_t done = frames.load(std::memory_order_relaxed);
  if (done == 0) {
    start_time.store(now);
  }
  const size_t take = std::min<size_t>(nframes, capacity - done);
  for (size_t c = 0; c < audio.size(); ++c) {
    const auto* in = static_cast<const float*>(jack_port_get_buffer(audio[c], nframes));
    std::copy(in, in + take, audio_data[c].begin() + static_cast<std::ptrdiff_t>(done));
  }
  frames.store(done + take, std::memory_order_release);

  for (jack_port_t* port : midi) {
    void* buffer = jack_port_get_buffer(port, nframes);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t e = 0; e < count; ++e) {
      jack_midi_event_t event{};
      const size_t n = midi_count.load(std::memory_order_relaxed);
      if (jack_midi_event_get(&event, buffer, e) == 0 && n < midi_data.size()) {
        MidiRecord& r = midi_data[n];
        r = {now + event.time, static_cast<uint32_t>(event.size), {}};
        std::memcpy(r.bytes, event.buffer, std::min<size_t>(event.size, sizeof(r.bytes)));
        midi_count.store(n + 1, std::memory_order_release);
      }
    }
  }

  const size_t t = transport_count.load(std::memory_order_relaxed);
  if (t < transport_data.size()) {
    TransportRecord& r = transport_data[t];
    r.pos = {};
    r.state = jack_transport_query(client, &r.pos);
    r.nframes = nframes;
    transport_count.store(t + 1, std::memory_order_release);
  }
}

void Sink::latency(jack_latency_callback_mode_t mode, void* data) {
  auto* self = static_cast<Sink*>(data);
  if (mode == JackPlaybackLatency) {
    for (size_t i = 0; i < self->audio.size(); ++i) {
      jack_port_set_latency_range(self->audio[i], mode, &self->playback_latency[i]);
    }
  }
}
