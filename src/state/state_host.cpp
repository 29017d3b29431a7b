#include "state/state_host.hpp"

#include <cstring>

Port* find_port_by_symbol(StateHost* host, const char* symbol) {
  for (uint32_t i = 0; i < host->num_ports; ++i) {
    Port* port = &host->ports[i];
    const LilvNode* port_symbol = lilv_port_get_symbol(host->plugin, port->lilv_port);
    if (port_symbol && !std::strcmp(lilv_node_as_string(port_symbol), symbol)) {
      return port;
    }
  }
  return nullptr;
}
