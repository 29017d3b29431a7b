#include "jack_suite.hpp"

#include "harness/wait_for.hpp"

#include <cstdlib>
#include <cstring>

void name_rig(HostRig& rig, const std::string& name, bool exact) {
  HostOptions& options = rig.host.options;
  std::free(options.jack_name);
  options.jack_name = strdup(name.c_str());
  options.exact_jack_name = exact ? 1 : 0;
  // Room for a whole cycle of MIDI echoed back, and the update rate the
  // tests' numbers were worked out for.
  options.ring_size = 1U << 20;
  options.update_rate = 25.0;
}

bool start_rig(HostRig& rig, JackProcessCallback callback) {
  if (callback) {
    jack_set_process_callback(rig.backend.client, callback, &rig.backend);
  }
  return rig.activate() == 0;
}

bool open_running(HostRig& rig, const char* uri, const std::string& name,
                  JackProcessCallback callback) {
  name_rig(rig, name);
  return rig.open(uri) == 0 && start_rig(rig, callback);
}

bool open_controls(HostRig& rig, const std::string& name, bool refuse_ports) {
  constexpr const char* uri = "urn:bexo:test:controls";
  name_rig(rig, name);
  if (!refuse_ports) {
    return rig.open(uri) == 0;
  }
  if (rig.load(uri)) {
    return false;
  }
  const auto take_names = [&rig] {
    jack_client_t* client = rig.backend.client;
    return jack_port_register(client, "in_l", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0) &&
           jack_port_register(client, "out_r", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  };
  return rig.attach_jack(take_names) == 0;
}

bool wait_cycles(const TestClient& client, uint64_t n) {
  const uint64_t until = client.cycles.load() + n;
  return wait_for([&] { return client.cycles.load() >= until; });
}

bool IoWorld::open(const std::string& name, JackProcessCallback callback) {
  rig.host.process.ui_reads_midi.store(true);
  if (!source.ok() || !sink.ok() || !open_running(rig, "urn:bexo:test:io", name, callback) ||
      !source.activate() || !sink.activate()) {
    return false;
  }
  return connect_ports(source.client, source.audio_name(0), rig.port_name(io_audio_in)) &&
         connect_ports(source.client, source.audio_name(1), rig.port_name(io_cv_in)) &&
         connect_ports(source.client, source.midi_name(0), rig.port_name(io_events_in)) &&
         connect_ports(sink.client, rig.port_name(io_audio_out), sink.audio_name(0)) &&
         connect_ports(sink.client, rig.port_name(io_cv_out), sink.audio_name(1)) &&
         connect_ports(sink.client, rig.port_name(io_events_out), sink.midi_name(0));
}
