#pragma once

// The outside world of the backend tests: two JACK clients of the tests'
// own.  The source feeds the plugin and may be the timebase master; the sink
// receives what the plugin made.  Two clients rather than one keep the graph
// free of loops, so all three run in the same JACK cycle and a frame sent at
// time t arrives at time t.

#include <atomic>
#include <cstdint>
#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// ---------------------------------------------------------------------------
// A server of a test's own, for the tests that stop it under a client; the
// launcher's, shared by the rest of the program, must keep running.

/// Starts jackd under `name` as the launcher does: dummy driver, 48 kHz,
/// 256 frames, no real-time scheduling, its output discarded; it dies with
/// the calling process.  Returns its pid, or -1.
pid_t start_jack_server(const std::string& name);

// ---------------------------------------------------------------------------
// The outside world.

/// The value the source writes for stream frame n on a channel: exact
/// multiples of 2^-20 in (0, 1], negated on odd channels, so that any gain
/// that is a short binary fraction is applied exactly and the frame number
/// can be read back from the product.
float stream_sample(uint64_t n, uint32_t channel);
/// The frame number (modulo 2^20) that a sample of a channel carries after
/// `gain` was applied, or -1 when the sample is not such a product.
int64_t stream_frame(float sample, uint32_t channel, float gain);

struct MidiRecord {
  uint32_t time; ///< Absolute frame time (jack_last_frame_time + offset).
  uint32_t size;
  uint8_t bytes[4];
};

/// A JACK client of the tests' own with a fixed set of ports; its process
/// callback never allocates.
class TestClient {
public:
  TestClient(const char* name, int audio_ports, int midi_ports, bool outputs);
  virtual ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool ok() const { return client != nullptr; }
  bool activate();
  std::string audio_name(int i) const;
  std::string midi_name(int i) const;

  jack_client_t* client = nullptr;
  std::vector<jack_port_t*> audio;
  std::vector<jack_port_t*> midi;
  std::atomic<uint64_t> cycles{0};
  std::atomic<uint64_t> xruns{0}; ///< As JACK reported them to this client.

protected:
  virtual void process(jack_nframes_t nframes) = 0;

private:
  static int process_entry(jack_nframes_t nframes, void* data);
  static int xrun_entry(void* data);
};

class Source : public TestClient {
public:
  Source(int audio_ports, int midi_ports);
  ~Source() override;

  /// Queue a MIDI event for the next cycle at offset `offset` (clamped to
  /// the cycle) on MIDI port `port`.
  bool queue_midi(uint32_t port, uint32_t offset, const std::vector<uint8_t>& bytes);
  /// Events written so far, with their absolute times.
  std::vector<MidiRecord> sent_midi() const;

  /// Become timebase master; BBT is then given while `bbt` is set.
  bool become_master();
  std::atomic<double> bpm{120.0};
  std::atomic<bool> bbt{true};

  std::atomic<bool> silent{false}; ///< Write zeros instead of the stream.
  /// Write a note-on at offset 0 of MIDI port 0 in every cycle, its key
  /// counting up, so that a sink can tell a lost event.
  std::atomic<bool> midi_every_cycle{false};
  std::atomic<uint32_t> notes_sent{0};
  /// Events written all at once, at offset 0 of MIDI port 0, in the first
  /// cycle after `burst_ready` is set; the flag falls when they are out.
  std::vector<std::vector<uint8_t>> burst;
  std::atomic<bool> burst_ready{false};
  std::atomic<uint64_t> stream_frames{0};

  /// Capture latency this source claims for audio port i (set before activation).
  std::vector<jack_latency_range_t> capture_latency;

protected:
  void process(jack_nframes_t nframes) override;

private:
  static void timebase(jack_transport_state_t state, jack_nframes_t nframes, jack_position_t* pos,
                       int new_pos, void* data);
  static void latency(jack_latency_callback_mode_t mode, void* data);

  struct Queued {
    uint32_t port;
    uint32_t offset;
    uint32_t size;
    uint8_t bytes[4];
  };
  jack_ringbuffer_t* queue = nullptr;
  std::vector<MidiRecord> sent;
  std::atomic<size_t> sent_count{0};
};

struct TransportRecord {
  jack_transport_state_t state;
  jack_position_t pos;
  jack_nframes_t nframes;
};

class Sink : public TestClient {
public:
  Sink(int audio_ports, int midi_ports, size_t capacity_frames = 48000 * 4);
  ~Sink() override;

  /// Start recording audio, MIDI and the transport from the next cycle on.
  void arm();
  /// Stop recording; what was recorded stays until the next arm().
  void disarm();
  size_t recorded_frames() const { return frames.load(std::memory_order_acquire); }
  std::vector<float> recorded_audio(int port) const;
  std::vector<MidiRecord> recorded_midi() const;
  std::vector<TransportRecord> recorded_transport() const;
  /// Absolute frame time of the first recorded frame.
  uint32_t first_time() const { return start_time.load(); }

  /// Checks every frame of audio port `port` against the source's stream
  /// after `gain`.  The check starts with the first frame that carries the
  /// stream; it counts the frames checked, the frames that are not the
  /// stream after the gain (bad), and the places where the stream goes on
  /// from another frame than the next one (breaks: frames lost or repeated).
  void check_stream(int port, uint32_t channel, float gain);
  uint64_t checked_frames(int port) const { return checks[port].checked.load(); }
  uint64_t bad_frames(int port) const { return checks[port].bad.load(); }
  uint64_t breaks(int port) const { return checks[port].breaks.load(); }

  /// Playback latency this sink claims for audio port i (set before activation).
  std::vector<jack_latency_range_t> playback_latency;

protected:
  void process(jack_nframes_t nframes) override;

private:
  static void latency(jack_latency_callback_mode_t mode, void* data);

  struct StreamCheck {
    std::atomic<bool> on{false};
    uint32_t channel = 0;
    float gain = 1.0f;
    int64_t next = -1;
    std::atomic<uint64_t> checked{0};
    std::atomic<uint64_t> bad{0};
    std::atomic<uint64_t> breaks{0};
  };
  size_t capacity;
  std::atomic<bool> armed{false};
  std::atomic<size_t> frames{0};
  std::atomic<uint32_t> start_time{0};
  std::vector<std::vector<float>> audio_data;
  std::vector<MidiRecord> midi_data;
  std::atomic<size_t> midi_count{0};
  std::vector<TransportRecord> transport_data;
  std::atomic<size_t> transport_count{0};
  std::unique_ptr<StreamCheck[]> checks;
};

/// Connect two ports by name through `client`; false when JACK refused.
bool connect_ports(jack_client_t* client, const std::string& from, const std::string& to);
