#include "jack_watch.hpp"

#include <cstring>

namespace {

bool owns(const std::string& client, const char* port) {
  return std::strncmp(port, client.c_str(), client.size()) == 0 && port[client.size()] == ':';
}

} // namespace

JackWatch::JackWatch() {
  client = jack_client_open("bexo-sweep", JackNoStartServer, nullptr);
  if (!client) {
    return;
  }
  jack_set_client_registration_callback(client, client_registration, this);
  jack_set_port_registration_callback(client, port_registration, this);
  if (jack_activate(client) != 0) {
    jack_client_close(client);
    client = nullptr;
  }
}

JackWatch::~JackWatch() {
  if (client) {
    jack_client_close(client);
  }
}

void JackWatch::begin_run() {
  const std::lock_guard lock(mutex);
  seen.clear();
}

JackWatch::Seen* JackWatch::find(const std::string& name) {
  // The latest record of a name: a client that went may come back under
  // the same name.
  for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
    if (it->name == name) {
      return &*it;
    }
  }
  return nullptr;
}

void JackWatch::client_registration(const char* name, int registered, void* data) {
  auto* self = static_cast<JackWatch*>(data);
  const std::lock_guard lock(self->mutex);
  Seen* known = self->find(name);
  if (registered) {
    Seen fresh;
    fresh.name = name;
    fresh.present = true;
    self->seen.push_back(fresh);
  } else if (known) {
    known->present = false;
  }
}

void JackWatch::port_registration(jack_port_id_t port, int registered, void* data) {
  auto* self = static_cast<JackWatch*>(data);
  if (!registered) {
    return;
  }
  const jack_port_t* handle = jack_port_by_id(self->client, port);
  const char* full = handle ? jack_port_name(handle) : nullptr;
  if (!full) {
    return;
  }
  // A client's name may hold a colon itself ("Matrix: MS to Stereo"), so
  // the port's client is the one whose name and a colon begin it.
  const std::lock_guard lock(self->mutex);
  for (Seen& s : self->seen) {
    if (s.present && owns(s.name, full)) {
      s.announced = true;
    }
  }
}

std::vector<std::string> JackWatch::ports_of(const std::string& name) {
  std::vector<std::string> found;
  const char** ports = jack_get_ports(client, nullptr, nullptr, 0);
  for (const char** p = ports; p && *p; ++p) {
    if (owns(name, *p)) {
      found.emplace_back(*p);
    }
  }
  jack_free(ports);
  return found;
}

std::vector<JackWatch::Seen> JackWatch::run_clients() {
  std::vector<Seen> copy;
  {
    const std::lock_guard lock(mutex);
    copy = seen;
  }
  for (Seen& s : copy) {
    if (s.present) {
      s.has_ports = !ports_of(s.name).empty();
    }
  }
  return copy;
}
