#pragma once

// A process state for the ports fixture, prepared, activated and running,
// with helpers to send messages and read what reached an event buffer.

#include "engine/event_buffer.hpp"
#include "engine/message.hpp"
#include "engine/process.hpp"
#include "host/nodes.hpp"
#include "host/urid_mapper.hpp"

#include <gtest/gtest.h>
#include <vector>

// Ports of the ports fixture that these tests address.
constexpr uint32_t control_port = 1; // a control input without event buffer
constexpr uint32_t plain_event_in = 3;
constexpr uint32_t event_out = 4;
constexpr uint32_t control_in = 5; // event input designated lv2:control, 65536 bytes
constexpr uint32_t tempo_port = 9;

class ProcessTest : public testing::Test {
protected:
  void SetUp() override {
    world = lilv_world_new();
    lilv_world_load_all(world);
    make_nodes(world, &nodes);
    mapper = urid_mapper_new();
    map_urids(mapper, &urids);
    LilvNode* uri = lilv_new_uri(world, "urn:bexo:test:ports");
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
    instance = lilv_plugin_instantiate(plugin, 48000.0, nullptr);
    ASSERT_NE(instance, nullptr);
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
    process_free(&state);
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

  HostSettings settings{48000.0f, 256, 256, 1024, 4096, 25.0f, 1.0f};
  LilvWorld* world = nullptr;
  Nodes nodes{};
  UridMapper* mapper = nullptr;
  Urids urids{};
  const LilvPlugin* plugin = nullptr;
  LilvInstance* instance = nullptr;
  ProcessState state{};
};
