#include "state/test_host.hpp"

#include "engine/event_buffer.hpp"
#include "engine/message.hpp"
#include "host/frontend.hpp"
#include "state/atom_dumper.hpp"
#include "state/property.hpp"
#include "state/state.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>
#include <zix/allocator.h>

namespace {

int capture_log(void* data, int level, const char* format, va_list args) {
  char text[1024];
  const int n = std::vsnprintf(text, sizeof(text), format, args);
  static_cast<TestHost*>(data)->log.push_back({level, text});
  std::fprintf(stderr, "[host log %d] %s\n", level, text);
  return n;
}

bool is_object(const Host& host, uint32_t type) {
  return lv2_atom_forge_is_object_type(&host.forge, type);
}

// What the periodic update does with a patch message from the plugin.
void deliver_patch(Host* host, const LV2_Atom_Object* object) {
  const Urids& u = host->urids;
  if (object->body.otype == u.patch_Set) {
    const LV2_Atom* property = nullptr;
    const LV2_Atom* value = nullptr;
    lv2_atom_object_get(object, u.patch_property, &property, u.patch_value, &value, 0);
    if (property && value && property->type == host->forge.URID) {
      update_property_value_and_widget(reinterpret_cast<const LV2_Atom_URID*>(property)->body,
                                       value, host);
    }
  } else if (object->body.otype == u.patch_Put) {
    const LV2_Atom* body = nullptr;
    lv2_atom_object_get(object, u.patch_body, &body, 0);
    if (body && is_object(*host, body->type)) {
      LV2_ATOM_OBJECT_FOREACH(reinterpret_cast<const LV2_Atom_Object*>(body), prop) {
        update_property_value_and_widget(prop->key, &prop->value, host);
      }
    }
  }
}

} // namespace

TestHost::~TestHost() {
  close();
}

int TestHost::open(const char* plugin_uri, float sample_rate, uint32_t block) {
  Host& h = host;
  block_length = block;
  h.settings = {sample_rate, block, block, 1024, 0, 25.0f, 1.0f};
  h.world = lilv_world_new();
  lilv_world_load_all(h.world);
  h.urid_mapper = urid_mapper_new();
  h.log.urids = &h.urids;
  h.log.sink = capture_log;
  h.log.sink_data = this;
  zix_sem_init(&h.worker_lock, 1);
  zix_sem_init(&h.quit_sem, 0);
  map_urids(h.urid_mapper, &h.urids);
  make_nodes(h.world, &h.nodes);
  features_init(&h.features, &h);
  lv2_atom_forge_init(&h.forge, urid_mapper_get_map(h.urid_mapper));
  opened = true;

  LilvNode* uri = lilv_new_uri(h.world, plugin_uri);
  h.plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(h.world), uri);
  // lilv reads a plugin's data only on demand, and the default state is in it.
  if (h.plugin) {
    lilv_world_load_resource(h.world, uri);
  }
  LilvState* initial =
      h.plugin ? lilv_state_new_from_world(h.world, urid_mapper_get_map(h.urid_mapper), uri)
               : nullptr;
  lilv_node_free(uri);
  if (!h.plugin) {
    return -2;
  }
  h.plugin_name = lilv_plugin_get_name(h.plugin);
  h.thread_safe_restore = lilv_plugin_has_feature(h.plugin, h.nodes.state_threadSafeRestore);

  ProcessState& p = h.process;
  process_state_init(&p, &h.urids, h.urid_mapper, false);
  if (lilv_plugin_has_extension_data(h.plugin, h.nodes.worker_interface)) {
    p.worker = worker_create(&h.worker_lock, true, nullptr);
    h.features.schedule.handle = p.worker;
    if (h.thread_safe_restore) {
      p.state_worker = worker_create(&h.worker_lock, false, nullptr);
      h.features.state_schedule.handle = p.state_worker;
    }
  }

  h.num_ports = p.num_ports = lilv_plugin_get_num_ports(h.plugin);
  h.ports.resize(h.num_ports);
  p.ports.resize(h.num_ports);
  p.control_values.resize(h.num_ports);
  lilv_plugin_get_port_ranges_float(h.plugin, nullptr, nullptr, p.control_values.data());
  uint32_t ring_floor = 0;
  for (uint32_t i = 0; i < h.num_ports; ++i) {
    const LilvPort* port = lilv_plugin_get_port_by_index(h.plugin, i);
    h.ports[i].lilv_port = port;
    h.ports[i].index = i;
    if (process_port_init(&p.ports[i], &h.nodes, h.plugin, port)) {
      return -10;
    }
    h.ports[i].type = p.ports[i].type;
    h.ports[i].flow = p.ports[i].flow;
    if (p.control_input_index == UINT32_MAX && p.ports[i].type == TYPE_EVENT &&
        p.ports[i].flow == FLOW_INPUT && p.ports[i].is_control_designated) {
      p.control_input_index = i;
    }
    const uint32_t size = p.ports[i].buf_size ? p.ports[i].buf_size : 1024;
    ring_floor = std::max(ring_floor, 16 * size);
    if (p.ports[i].flow == FLOW_OUTPUT) {
      h.ui_read_buf_size = std::max<size_t>(h.ui_read_buf_size, size);
    }
  }

  for (uint32_t i = 0; i < h.num_ports; ++i) {
    const LilvPort* port = h.ports[i].lilv_port;
    if (lilv_port_is_a(h.plugin, port, h.nodes.lv2_ControlPort)) {
      append_control(&h.controls, make_port_control(h.plugin, port, i, &h.nodes, &h.forge,
                                                    h.settings.sample_rate));
    }
  }
  discover_properties(&h, true);
  discover_properties(&h, false);

  h.settings.ring_size = std::max<uint32_t>(ring_floor, 4096);
  options_init(&h.features, &h.urids, &h.settings);
  h.ui_read_buf_size = std::max(h.ui_read_buf_size, h.settings.midi_buf_size);
  h.ui_read_buf = zix_aligned_alloc(nullptr, 8, h.ui_read_buf_size);
  if (build_feature_list(&h.features, &h.settings)) {
    return -7;
  }
  if (!check_required_features(h.plugin, h.features.feature_list.data(), &h.log).empty()) {
    lilv_state_free(initial);
    return -8;
  }
  p.instance =
      lilv_plugin_instantiate(h.plugin, h.settings.sample_rate, h.features.feature_list.data());
  if (!p.instance) {
    lilv_state_free(initial);
    return -9;
  }
  const LV2_Descriptor* descriptor = lilv_instance_get_descriptor(p.instance);
  h.features.data_access.data_access = descriptor->extension_data;
  const auto* iface = static_cast<const LV2_Worker_Interface*>(
      lilv_instance_get_extension_data(p.instance, LV2_WORKER__interface));
  worker_bind(p.worker, iface, lilv_instance_get_handle(p.instance));
  worker_bind(p.state_worker, iface, lilv_instance_get_handle(p.instance));
  process_prepare(&p, &h.urids, p.instance, &h.settings);

  if (initial) {
    restore_state(&h, initial);
    lilv_state_free(initial);
  }

  audio_buffers.resize(h.num_ports);
  for (uint32_t i = 0; i < h.num_ports; ++i) {
    const PortType type = p.ports[i].type;
    if (type == TYPE_CONTROL) {
      lilv_instance_connect_port(p.instance, i, &p.control_values[i]);
    } else if (type == TYPE_AUDIO || type == TYPE_CV) {
      audio_buffers[i].assign(block_length, 0.0f);
      lilv_instance_connect_port(p.instance, i, audio_buffers[i].data());
    }
  }
  return 0;
}

void TestHost::close() {
  if (!opened) {
    return;
  }
  opened = false;
  Host& h = host;
  stop();
  ProcessState& p = h.process;
  process_release_buffers(&p);
  if (p.instance) {
    lilv_instance_free(p.instance);
    p.instance = nullptr;
  }
  lilv_state_free(h.preset);
  h.preset = nullptr;
  lilv_node_free(h.plugin_name);
  h.ports.clear();
  process_free(&p);
  p.ports.clear();
  zix_aligned_free(nullptr, h.ui_read_buf);
  free_nodes(&h.nodes);
  free_controls(&h.controls);
  atom_dumper_free(h.atom_dumper);
  urid_mapper_free(h.urid_mapper);
  lilv_world_free(h.world);
  zix_sem_destroy(&h.quit_sem);
  zix_sem_destroy(&h.worker_lock);
  if (h.scratch_dir) {
    std::error_code error;
    std::filesystem::remove_all(h.scratch_dir, error);
    zix_free(nullptr, h.scratch_dir);
  }
  h.features.feature_list.clear();
}

void TestHost::start() {
  if (active) {
    return;
  }
  active = true;
  if (host.process.worker) {
    worker_start(host.process.worker);
  }
  lilv_instance_activate(host.process.instance);
  running = true;
  audio = std::thread([this] { run_cycles(); });
  host.process.run_state.store(RUNNING);
}

void TestHost::stop() {
  if (!active) {
    return;
  }
  active = false;
  running = false;
  audio.join();
  lilv_instance_deactivate(host.process.instance);
  if (host.process.worker) {
    worker_stop(host.process.worker);
  }
  host.process.run_state.store(PAUSED);
}

void TestHost::run_cycles() {
  while (running) {
    cycle();
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

void TestHost::cycle() {
  ProcessState* p = &host.process;
  if (p->run_state.load() == PAUSED) {
    process_paused(p, block_length);
    return;
  }
  for (ProcessPort& port : p->ports) {
    if (port.type == TYPE_EVENT && port.flow == FLOW_OUTPUT && port.event_buffer) {
      event_buffer_reset(port.event_buffer, false);
    }
  }
  const int status = process_run(p, block_length);
  for (uint32_t i = 0; i < p->num_ports; ++i) {
    ProcessPort& port = p->ports[i];
    if (port.type == TYPE_EVENT && port.flow == FLOW_INPUT && port.event_buffer) {
      event_buffer_reset(port.event_buffer, true);
    } else if (port.type == TYPE_CONTROL && port.flow == FLOW_OUTPUT) {
      if (status == PROCESS_SEND_UPDATES) {
        ring_write_control(p->process_ring, i, p->control_values[i]);
      }
    } else if (port.type == TYPE_EVENT && port.flow == FLOW_OUTPUT && port.event_buffer) {
      for (EventBufferIterator e = event_buffer_first(port.event_buffer); event_iter_valid(e);
           e = event_iter_next(e)) {
        uint32_t frames = 0;
        uint32_t subframes = 0;
        uint32_t type = 0;
        uint32_t size = 0;
        const void* body = nullptr;
        event_iter_get(e, &frames, &subframes, &type, &size, &body);
        ring_write_event(p->process_ring, i, size, type, body);
      }
    }
  }
  if (p->run_state.load() == PAUSED) {
    zix_sem_post(&p->paused);
  }
}

int TestHost::drain() {
  Host* h = &host;
  ZixRing* ring = h->process.process_ring;
  h->ui_updating = true;
  int count = 0;
  const uint32_t space = zix_ring_read_space(ring);
  for (uint32_t consumed = 0; consumed < space; ++count) {
    MessageHeader header{};
    if (zix_ring_read(ring, &header, sizeof(header)) != sizeof(header) ||
        header.size > h->ui_read_buf_size ||
        zix_ring_read(ring, h->ui_read_buf, header.size) != header.size) {
      break;
    }
    consumed += sizeof(header) + header.size;
    if (header.type == CONTROL_CHANGE) {
      const auto* change = static_cast<const ControlChange*>(h->ui_read_buf);
      if (Control* control = find_port_control(&h->controls, change->port_index)) {
        control_value_set(&control->value, sizeof(float), h->forge.Float, &change->value);
        gui_show_control(h, control);
      }
    } else if (header.type == EVENT_TRANSFER) {
      const auto* atom = reinterpret_cast<const LV2_Atom*>(
          static_cast<const uint8_t*>(h->ui_read_buf) + sizeof(uint32_t));
      if (is_object(*h, atom->type)) {
        deliver_patch(h, reinterpret_cast<const LV2_Atom_Object*>(atom));
      }
    }
  }
  h->ui_updating = false;
  return count;
}

bool TestHost::wait_until(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end) {
    drain();
    if (done()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

int TestHost::set_property(const char* uri, uint32_t size, uint32_t type, const void* body) {
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

Control* TestHost::property(const char* uri) {
  return find_property_control(&host.controls, map(uri));
}

Control* TestHost::control(const char* symbol) {
  return find_control_by_symbol(&host.controls, symbol);
}

uint32_t TestHost::map(const char* uri) {
  LV2_URID_Map* map = urid_mapper_get_map(host.urid_mapper);
  return map->map(map->handle, uri);
}

bool TestHost::logged(int level, const std::string& text) const {
  for (const LogLine& line : log) {
    if (line.level == level && line.text.find(text) != std::string::npos) {
      return true;
    }
  }
  return false;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "bexo-test-XXXXXX").string();
  if (mkdtemp(pattern.data())) {
    dir = pattern;
  }
}

TempDir::~TempDir() {
  if (!dir.empty()) {
    std::error_code error;
    std::filesystem::remove_all(dir, error);
  }
}

std::string read_text(const std::string& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}
