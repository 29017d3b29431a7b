// Host instructions per JACK cycle, counted by callgrind rather than timed,
// so the figures are the same on a busy machine as on a quiet one.  Each
// case opens a plugin on the private server at 64 frames and counts the
// instructions of the JACK process callback over a fixed number of running
// cycles (a whole number of update periods, so that control outputs are
// published as often in every run), with the plugin's own run left out.
// Run it under the launcher, which gives it a private server:
//
//   build/release/tests/harness/bexo-test-env --jack -- build/release/bench/cycle_cost_bench
//
// It runs itself under valgrind once per case and prints one table.

#include "engine/message.hpp"
#include "jack/process_callback.hpp"
#include "jack_suite.hpp"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <jack/midiport.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <valgrind/callgrind.h>
#include <vector>

namespace {

constexpr jack_nframes_t bench_frames = 64;
constexpr uint32_t update_periods = 40;
constexpr uint32_t notes_per_cycle = 8;

struct Case {
  const char* name;
  const char* uri;
  int control_port; ///< Gets one control message per cycle; -1: none.
  bool notes;       ///< 8 MIDI events per cycle into the first MIDI input.
};

const Case cases[] = {
    {"eg-amp, idle", "http://lv2plug.in/plugins/eg-amp", -1, false},
    {"eg-amp, 1 control message", "http://lv2plug.in/plugins/eg-amp", 0, false},
    {"controls (18 ports), idle", "urn:bexo:test:controls", -1, false},
    {"controls, 1 control message", "urn:bexo:test:controls", controls_gain, false},
    {"synthv1 (151 ports), idle", "http://synthv1.sourceforge.net/lv2", -1, false},
    {"synthv1, 1 control message", "http://synthv1.sourceforge.net/lv2", 6, false},
    {"synthv1, 8 MIDI events in", "http://synthv1.sourceforge.net/lv2", -1, true},
    {"io, idle", "urn:bexo:test:io", -1, false},
    {"io, 8 MIDI events in and out", "urn:bexo:test:io", -1, true},
};

// What the measured callback shares with the main thread.
struct Window {
  std::atomic<uint32_t> remaining{0}; ///< Cycles still to count.
  std::atomic<uint64_t> running_cycles{0};
  int control_port = -1;
  bool in_window = false; ///< Audio thread only.
  float value = 0.0f;
};
Window window;

const LV2_Descriptor* plugin_descriptor = nullptr;
LV2_Descriptor wrapped_descriptor{};

// The plugin's run, which the count leaves out.
void unmeasured_run(LV2_Handle handle, uint32_t nframes) {
  if (window.in_window) {
    CALLGRIND_TOGGLE_COLLECT;
  }
  plugin_descriptor->run(handle, nframes);
  if (window.in_window) {
    CALLGRIND_TOGGLE_COLLECT;
  }
  window.running_cycles.fetch_add(1, std::memory_order_relaxed);
}

int measured_process(jack_nframes_t nframes, void* data) {
  auto* backend = static_cast<Backend*>(data);
  window.in_window = window.remaining.load(std::memory_order_acquire) > 0 &&
                     backend->process->run_state.load() == RUNNING;
  if (!window.in_window) {
    return process_callback(nframes, data);
  }
  if (window.control_port >= 0) {
    // As the UI side would have written it since the last cycle.
    window.value = window.value == 0.5f ? 0.25f : 0.5f;
    ring_write_control(backend->process->ui_ring, static_cast<uint32_t>(window.control_port),
                       window.value);
  }
  CALLGRIND_TOGGLE_COLLECT;
  const int result = process_callback(nframes, data);
  CALLGRIND_TOGGLE_COLLECT;
  window.in_window = false;
  window.remaining.fetch_sub(1, std::memory_order_release);
  return result;
}

// A client of the bench's own that writes the same notes in every cycle.
class NoteSource : public TestClient {
public:
  NoteSource() : TestClient("bench-notes", 0, 1, true) {}
  // Before the base class goes, which would leave JACK calling a process
  // function that no longer exists.
  ~NoteSource() override {
    if (client) {
      jack_deactivate(client);
    }
  }
  std::atomic<bool> playing{false};

protected:
  void process(jack_nframes_t nframes) override {
    void* buffer = jack_port_get_buffer(midi[0], nframes);
    jack_midi_clear_buffer(buffer);
    if (!playing.load(std::memory_order_relaxed)) {
      return;
    }
    for (uint32_t e = 0; e < notes_per_cycle; ++e) {
      const jack_midi_data_t note[3] = {static_cast<jack_midi_data_t>(e % 2 ? 0x80 : 0x90),
                                        static_cast<jack_midi_data_t>(60 + e / 2), 100};
      jack_midi_event_write(buffer, e * (nframes / notes_per_cycle), note, sizeof(note));
    }
  }
};

// The JACK name of the plugin's first MIDI input, or "".
std::string first_midi_input(const HostRig& rig) {
  const ProcessState& process = rig.host.process;
  for (const ProcessPort& port : process.ports) {
    if (port.type == TYPE_EVENT && port.flow == FLOW_INPUT && port.jack_port) {
      return jack_port_name(static_cast<jack_port_t*>(port.jack_port));
    }
  }
  return "";
}

// Cycles of a whole number of update periods: control outputs go to the
// UI side in the cycle after update_frames have passed.
uint32_t measured_cycles(const HostRig& rig) {
  const uint32_t period = rig.host.process.update_frames / bench_frames + 1;
  return update_periods * period;
}

bool wait_until(const std::function<bool()>& done, HostRig& rig) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    rig.update(); // drains process_ring, as the program's periodic update does
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Runs one case inside valgrind; prints the number of cycles counted.
int run_case(const Case& c) {
  // The buffer size first, so that the host opens with its numbers.
  NoteSource notes;
  if (!notes.ok() || jack_set_buffer_size(notes.client, bench_frames) != 0) {
    std::fprintf(stderr, "cycle_cost_bench: cannot set the server's buffer size\n");
    return 1;
  }
  HostRig rig;
  name_rig(rig, "bench-host");
  if (rig.open(c.uri) != 0) {
    std::fprintf(stderr, "cycle_cost_bench: cannot open %s\n", c.uri);
    return 1;
  }
  LilvInstance* instance = rig.host.process.instance;
  plugin_descriptor = instance->lv2_descriptor;
  wrapped_descriptor = *plugin_descriptor;
  wrapped_descriptor.run = unmeasured_run;
  instance->lv2_descriptor = &wrapped_descriptor;

  if (!start_rig(rig, measured_process) || !notes.activate()) {
    std::fprintf(stderr, "cycle_cost_bench: cannot start %s\n", c.uri);
    return 1;
  }
  const std::string midi_in = first_midi_input(rig);
  if (!midi_in.empty() && !connect_ports(notes.client, jack_port_name(notes.midi[0]), midi_in)) {
    std::fprintf(stderr, "cycle_cost_bench: cannot connect the notes to %s\n", midi_in.c_str());
    return 1;
  }
  notes.playing.store(c.notes);
  window.control_port = c.control_port;

  // Warm up: the open's own messages answered, valgrind's translations made.
  const auto ran = [](uint64_t n) { return [n] { return window.running_cycles.load() >= n; }; };
  const uint32_t cycles = measured_cycles(rig);
  if (!wait_until(ran(500), rig)) {
    std::fprintf(stderr, "cycle_cost_bench: the plugin does not run\n");
    return 1;
  }
  window.remaining.store(cycles, std::memory_order_release);
  if (!wait_until([] { return window.remaining.load() == 0; }, rig)) {
    std::fprintf(stderr, "cycle_cost_bench: the measured cycles never ran\n");
    return 1;
  }
  std::printf("%u\n", cycles);
  std::fflush(stdout);
  return 0;
}

// The leading count of a callgrind_annotate line, "1,234 (5.6%)  ...".
long long leading_count(const std::string& line) {
  std::string digits;
  for (const char c : line) {
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (c != ',' && c != ' ') {
      break;
    }
  }
  return digits.empty() ? -1 : std::atoll(digits.c_str());
}

// Each line callgrind_annotate prints for an output file.
std::vector<std::string> annotated_lines(const std::string& path, bool inclusive) {
  const std::string command = std::string("callgrind_annotate --threshold=100 ") +
                              (inclusive ? "--inclusive=yes " : "") + path + " 2>/dev/null";
  std::vector<std::string> lines;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (std::fgets(buffer, sizeof(buffer), pipe)) {
      lines.emplace_back(buffer);
    }
    pclose(pipe);
  }
  return lines;
}

// The host's instructions in an output file: all of the process callback
// but what ran in the plugin's own code (its run and connect_port, every
// bundle being a *.lv2 directory) and in the bench's wrapper of its run.
long long host_instructions(const std::string& path) {
  long long callback = -1;
  for (const std::string& line : annotated_lines(path, true)) {
    if (line.find(":process_callback(") != std::string::npos) {
      callback = leading_count(line);
    }
  }
  if (callback < 0) {
    return -1;
  }
  for (const std::string& line : annotated_lines(path, false)) {
    if (line.find(".lv2/") != std::string::npos ||
        line.find("unmeasured_run") != std::string::npos) {
      callback -= leading_count(line);
    }
  }
  return callback;
}

// Runs case `index` of this program under callgrind; instructions per
// cycle, or -1.
double instructions_per_cycle(const char* self, size_t index) {
  char dir[] = "/tmp/bexo-cycle-cost-XXXXXX";
  if (!mkdtemp(dir)) {
    return -1;
  }
  const std::string out = std::string(dir) + "/callgrind.out";
  const std::string cycles_file = std::string(dir) + "/cycles";
  const std::string command =
      "valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file=" + out + " " + self +
      " --case " + std::to_string(index) + " > " + cycles_file + " 2> " + std::string(dir) + "/log";
  const int status = std::system(command.c_str());
  std::ifstream cycles_in(cycles_file);
  long long cycles = 0;
  cycles_in >> cycles;
  const long long instructions = host_instructions(out);
  std::system(("rm -rf " + std::string(dir)).c_str());
  if (status != 0 || cycles <= 0 || instructions < 0) {
    return -1;
  }
  return static_cast<double>(instructions) / static_cast<double>(cycles);
}

} // namespace

int main(int argc, char** argv) {
  const std::string lv2_path = std::string(BEXO_FIXTURE_LV2_DIR) + ":/usr/lib/lv2";
  setenv("LV2_PATH", lv2_path.c_str(), 1);
  // synthv1 makes a Qt application of its own when instantiated, which
  // needs no display to count cycles with.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (!std::getenv("BEXO_PRIVATE_JACK_SERVER")) {
    std::fprintf(stderr, "cycle_cost_bench: run it under bexo-test-env --jack\n");
    return 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "--case") == 0) {
    return run_case(cases[std::strtoul(argv[2], nullptr, 10) % std::size(cases)]);
  }
  std::printf("Host instructions per cycle in the JACK process callback, %u frames, the\n"
              "plugin's own code (run, connect_port) excluded (callgrind):\n\n",
              bench_frames);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const double per_cycle = instructions_per_cycle(argv[0], i);
    if (per_cycle < 0) {
      std::printf("%-32s failed\n", cases[i].name);
    } else {
      std::printf("%-32s %8.0f\n", cases[i].name, per_cycle);
    }
    std::fflush(stdout);
  }
  return 0;
}
