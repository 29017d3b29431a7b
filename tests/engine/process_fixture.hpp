#pragma once

// A process state for a fixture plugin, prepared, activated and running,
// with helpers to send messages and read what reached an event buffer.
// ProcessTest opens the ports fixture; AtomsTest the atoms fixture, with
// both workers and the features the worker needs.

#include "engine/event_buffer.hpp"
#include "engine/message.hpp"
#include "engine/process.hpp"
#include "engine/worker.hpp"
#include "host/nodes.hpp"
#include "host/urid_mapper.hpp"

#include <gtest/gtest.h>
#include <lv2/worker/worker.h>
#include <string>
#include <vector>

// Ports of the ports fixture that these tests address.
constexpr uint32_t control_port = 1; // a control input without event buffer
constexpr uint32_t plain_event_in = 3;
constexpr uint32_t event_out = 4;
constexpr uint32_t control_in = 5; // event input designated lv2:control, 65536 bytes
constexpr uint32_t tempo_port = 9;

class ProcessTest : public testing::Test {
protected:
  void SetUp() override { open("urn:bexo:test:ports"); }

  void open(const char* plugin_uri) {
    world = lilv_world_new();
    lilv_world_load_all(world);
    make_nodes(world, &nodes);
    mapper = urid_mapper_new();
    map_urids(mapper, &urids);
    LilvNode* uri = lilv_new_uri(world, plugin_uri);
    plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    lilv_node_free(uri);
    ASSERT_NE(plugin, nullptr);

    process_state_init(&state, &urids, mapper, false);
    state.num_ports = lilv_plugin_get_num_ports(plugin);
    state.ports.resize(state.num_ports);
    state.control_values.resize(state.num_ports);
    for (uint32_t i = 0; i < state.num_ports; ++i) {
      ASSERT_EQ(process_port_init(&state.ports[i], &nodes, plugin,
                                  lilv_plugin_get_port_by_index(plugin, i)),
                0);
      if (state.ports[i].is_control_designated && state.control_input_index == UINT32_MAX) {
        state.control_input_index = i;
      }
    }
    if (lilv_plugin_has_extension_data(plugin, nodes.worker_interface)) {
      ASSERT_EQ(zix_sem_init(&worker_lock, 1), ZIX_STATUS_SUCCESS);
      has_worker_lock = true;
      state.worker = worker_create(&worker_lock, true, nullptr);
      state.state_worker = worker_create(&worker_lock, false, nullptr);
      ASSERT_NE(state.worker, nullptr);
      ASSERT_NE(state.state_worker, nullptr);
      schedule.handle = state.worker;
    }
    map_feature.data = urid_mapper_get_map(mapper);
    instance = lilv_plugin_instantiate(plugin, 48000.0, features);
    ASSERT_NE(instance, nullptr);
    if (state.worker) {
      const auto* iface = static_cast<const LV2_Worker_Interface*>(
          lilv_instance_get_extension_data(instance, LV2_WORKER__interface));
      worker_bind(state.worker, iface, lilv_instance_get_handle(instance));
      worker_bind(state.state_worker, iface, lilv_instance_get_handle(instance));
    }
    ASSERT_EQ(process_prepare(&state, &urids, instance, &settings), 0);
    lilv_instance_activate(instance);
    state.run_state.store(RUNNING);
  }

  void TearDown() override {
    if (instance) {
      lilv_instance_deactivate(instance);
      process_release_buffers(&state);
      lilv_instance_free(instance);
    }
    process_free(&state); // stops and frees the workers
    if (has_worker_lock) {
      zix_sem_destroy(&worker_lock);
    }
    urid_mapper_free(mapper);
    free_nodes(&nodes);
    lilv_world_free(world);
  }

  void send_run_state(RunState run_state) {
    const MessageHeader header{RUN_STATE_CHANGE, 4};
    ASSERT_EQ(ring_write_message(state.ui_ring, &header, sizeof(header), &run_state, 4), 0);
  }

  struct Event {
    uint32_t frames, type, size;
  };
  std::vector<Event> events(uint32_t port) {
    std::vector<Event> found;
    EventBuffer* buffer = state.ports[port].event_buffer;
    for (EventBufferIterator i = event_buffer_first(buffer); event_iter_valid(i);
         i = event_iter_next(i)) {
      Event e{};
      uint32_t subframes = 0;
      const void* data = nullptr;
      event_iter_get(i, &e.frames, &subframes, &e.type, &e.size, &data);
      found.push_back(e);
    }
    return found;
  }

  // Reads the strings that the plugin reported on an output event port.
  std::vector<std::string> strings(uint32_t port) {
    std::vector<std::string> found;
    EventBuffer* buffer = state.ports[port].event_buffer;
    for (EventBufferIterator i = event_buffer_first(buffer); event_iter_valid(i);
         i = event_iter_next(i)) {
      uint32_t frames = 0, subframes = 0, type = 0, size = 0;
      const void* data = nullptr;
      event_iter_get(i, &frames, &subframes, &type, &size, &data);
      if (type == urids.atom_String) {
        found.emplace_back(static_cast<const char*>(data));
      }
    }
    return found;
  }

  HostSettings settings{48000.0f, 256, 256, 1024, 4096, 25.0f, 1.0f};
  LilvWorld* world = nullptr;
  Nodes nodes{};
  UridMapper* mapper = nullptr;
  Urids urids{};
  const LilvPlugin* plugin = nullptr;
  LilvInstance* instance = nullptr;
  ProcessState state{};
  ZixSem worker_lock{};
  bool has_worker_lock = false;
  LV2_Worker_Schedule schedule{nullptr, worker_request};
  LV2_Feature map_feature{LV2_URID__map, nullptr};
  LV2_Feature schedule_feature{LV2_WORKER__schedule, &schedule};
  const LV2_Feature* features[3]{&map_feature, &schedule_feature, nullptr};
};

// The ports of the atoms fixture.
constexpr uint32_t atoms_control = 0;
constexpr uint32_t atoms_notify = 1;
constexpr uint32_t atoms_midi_in = 2;
constexpr uint32_t atoms_midi_out = 3;

class AtomsTest : public ProcessTest {
protected:
  void SetUp() override {
    settings.ring_size = 16384; // room for a request larger than the worker's ring
    open("urn:bexo:test:atoms");
  }

  // Sends a string to the plugin's control input, which it takes as a
  // request for its worker.
  void send_request(const std::string& text) {
    ASSERT_EQ(ring_write_event(state.ui_ring, atoms_control, static_cast<uint32_t>(text.size() + 1),
                               urids.atom_String, text.c_str()),
              0);
  }

  // One cycle as the backend runs it: outputs reset before, inputs emptied after.
  int cycle(uint32_t nframes = 256) {
    for (uint32_t port : {atoms_notify, atoms_midi_out}) {
      event_buffer_reset(state.ports[port].event_buffer, false);
    }
    const int status = process_run(&state, nframes);
    for (uint32_t port : {atoms_control, atoms_midi_in}) {
      event_buffer_reset(state.ports[port].event_buffer, true);
    }
    return status;
  }
};
