#include "harness/host_rig.hpp"

#include "engine/message.hpp"
#include "engine/process.hpp"
#include "host/frontend.hpp"
#include "host/host_open.hpp"
#include "host/lifecycle.hpp"
#include "host/periodic_update.hpp"
#include "host/signals.hpp"
#include "state/control.hpp"

#include <lv2/atom/forge.h>
#include <zix/ring.h>

HostRig::HostRig(std::initializer_list<const char*> args) : arg_strings(args.begin(), args.end()) {
  for (std::string& arg : arg_strings) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  host.frontend = &bexo_frontend;
  host.backend = &backend;
  host_init_args(&host, static_cast<int>(arg_strings.size()), argv.data());
  host.log.sink = capture_log;
  host.log.sink_data = &lines;
  set_quit_semaphore(&host.quit_sem);
}

HostRig::~HostRig() {
  close();
  set_quit_semaphore(nullptr);
}

int HostRig::open(const char* arg) {
  loaded = true;
  return host_open(&host, arg);
}

int HostRig::load(const char* arg) {
  loaded = true;
  if (const int status = open_world(&host)) {
    return status;
  }
  return open_plugin(&host, arg, &initial_state);
}

int HostRig::attach_jack(const std::function<bool()>& on_client) {
  int status = open_audio(&host);
  if (!status && on_client && !on_client()) {
    status = HOST_OPEN_NO_AUDIO;
  }
  if (!status) {
    status = open_instance(&host, initial_state);
  }
  lilv_state_free(initial_state);
  initial_state = nullptr;
  if (!status) {
    connect_ports(&host);
  }
  return status;
}

namespace {

// The rig's own backend runs cycles only when a test asks for them, so
// starting it does nothing, and stopping it ends the rig's cycle thread
// before the plugin is deactivated, as stopping JACK ends its cycles.
AudioBackend own_backend(HostRig* rig) {
  const auto stop = [](void* data) { static_cast<HostRig*>(data)->stop_cycles(); };
  return {rig, [](void*) { return 0; }, stop, nullptr, stop};
}

} // namespace

int HostRig::attach_manual(const ManualAudio& audio) {
  host.audio = own_backend(this);
  HostSettings& settings = host.settings;
  settings.sample_rate = audio.sample_rate;
  settings.min_block_length = settings.max_block_length = audio.block_length;
  settings.midi_buf_size = audio.midi_buf_size;
  const int status = open_instance(&host, initial_state);
  lilv_state_free(initial_state);
  initial_state = nullptr;
  if (!status) {
    connect_manual_ports();
  }
  return status;
}

int HostRig::open_manual(const char* arg, const ManualAudio& audio) {
  if (const int status = load(arg)) {
    return status;
  }
  return attach_manual(audio);
}

void HostRig::connect_manual_ports() {
  ProcessState& process = host.process;
  audio_buffers.assign(host.num_ports, {});
  for (uint32_t i = 0; i < host.num_ports; ++i) {
    if (process_connect_port(&process, i)) {
      continue;
    }
    const PortType type = process.ports[i].type;
    if (type == TYPE_AUDIO || type == TYPE_CV) {
      audio_buffers[i].assign(host.settings.max_block_length, 0.0f);
      lilv_instance_connect_port(process.instance, i, audio_buffers[i].data());
    }
  }
}

int HostRig::activate() {
  return host_activate(&host);
}

void HostRig::deactivate() {
  host_deactivate(&host);
}

void HostRig::close() {
  stop_cycles();
  lilv_state_free(initial_state);
  initial_state = nullptr;
  if (loaded) {
    loaded = false;
    host_close(&host);
  }
}

void HostRig::cycle() {
  ProcessState* process = &host.process;
  const uint32_t nframes = host.settings.max_block_length;
  if (process->run_state.load() == PAUSED) {
    process_paused(process, nframes);
    return;
  }
  process_cycle_begin(process, nframes, &transport);
  if (backend_input) {
    backend_input();
  }
  const int status = process_run(process, nframes);
  process_cycle_end(process, status, output_sink);
}

void HostRig::start_cycles() {
  if (cycling.exchange(true)) {
    return;
  }
  cycles = std::thread([this] {
    while (cycling.load()) {
      cycle();
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
}

void HostRig::stop_cycles() {
  if (cycling.exchange(false)) {
    cycles.join();
  }
}

int HostRig::update() {
  return periodic_update(&host);
}

bool HostRig::update_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    update();
    if (done()) {
      return true;
    }
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::vector<RingMessage> HostRig::drain() {
  return read_ring_messages(host.process.process_ring);
}

void HostRig::send_run_state(RunState run_state) {
  ring_write_run_state(host.process.ui_ring, run_state);
}

bool HostRig::pause() {
  send_run_state(PAUSED);
  return zix_sem_timed_wait(&host.process.paused, 5, 0) == ZIX_STATUS_SUCCESS;
}

void HostRig::discard_ui_messages() {
  ZixRing* ring = host.process.ui_ring;
  zix_ring_skip(ring, zix_ring_read_space(ring));
}

int HostRig::send_property(const char* uri, uint32_t size, uint32_t type, const void* body) {
  alignas(8) uint8_t buffer[4096];
  LV2_Atom_Forge forge = host.forge;
  lv2_atom_forge_set_buffer(&forge, buffer, sizeof(buffer));
  LV2_Atom_Forge_Frame frame;
  auto* set =
      reinterpret_cast<LV2_Atom*>(lv2_atom_forge_object(&forge, &frame, 0, host.urids.patch_Set));
  lv2_atom_forge_key(&forge, host.urids.patch_property);
  lv2_atom_forge_urid(&forge, map(uri));
  lv2_atom_forge_key(&forge, host.urids.patch_value);
  lv2_atom_forge_atom(&forge, size, type);
  lv2_atom_forge_write(&forge, body, size);
  lv2_atom_forge_pop(&forge, &frame);
  return ring_write_event(host.process.ui_ring, host.process.control_input_index, set->size,
                          set->type, set + 1);
}

Control* HostRig::control(const char* symbol) {
  return find_control_by_symbol(&host.controls, symbol);
}

Control* HostRig::property(const char* uri) {
  return find_property_control(&host.controls, map(uri));
}

uint32_t HostRig::map(const char* uri) {
  LV2_URID_Map* map = urid_mapper_get_map(host.urid_mapper);
  return map->map(map->handle, uri);
}

std::string HostRig::port_name(uint32_t index) const {
  return std::string(jack_get_client_name(backend.client)) + ":" + host.process.ports[index].symbol;
}
