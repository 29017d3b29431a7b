#include "session/nsm_client.hpp"

#include <cstring>
#include <lo/lo.h>
#include <string>

struct NsmClient {
  lo_address server;
  lo_server port;
  NsmHandlers handlers;
  NsmAnnounceState announce;
  std::string message;
};

namespace {

// liblo packs OSC arguments at 4-byte boundaries, so a lo_arg may be less
// aligned than its union: read one through its address, never a member.
const char* string_arg(const lo_arg* arg) {
  return reinterpret_cast<const char*>(arg);
}

// liblo would print its own complaints on the console; a client that
// cannot listen is reported through its result alone.
void ignore_error(int, const char*, const char*) {}

NsmClient* client_of(void* data) {
  return static_cast<NsmClient*>(data);
}

bool first_is(const char* types, lo_arg** argv, int argc, const char* path) {
  return argc >= 1 && types[0] == 's' && std::strcmp(string_arg(argv[0]), path) == 0;
}

// `/reply "/nsm/server/announce" s:message s:server_name s:capabilities`;
// replies to anything else are not ours to handle.
int on_reply(const char*, const char* types, lo_arg** argv, int argc, lo_message, void* data) {
  NsmClient* client = client_of(data);
  if (first_is(types, argv, argc, nsm_announce_path)) {
    client->announce = NSM_ANNOUNCE_ACCEPTED;
    client->message = argc >= 2 && types[1] == 's' ? string_arg(argv[1]) : "";
  }
  return 0;
}

// `/error "/nsm/server/announce" i:code s:message`.
int on_error(const char*, const char* types, lo_arg** argv, int argc, lo_message, void* data) {
  NsmClient* client = client_of(data);
  if (first_is(types, argv, argc, nsm_announce_path)) {
    client->announce = NSM_ANNOUNCE_REFUSED;
    client->message = argc >= 3 && types[2] == 's' ? string_arg(argv[2]) : "";
  }
  return 0;
}

int on_open(const char*, const char*, lo_arg** argv, int, lo_message, void* data) {
  const NsmHandlers& h = client_of(data)->handlers;
  if (h.open) {
    h.open(h.data, string_arg(argv[0]), string_arg(argv[1]), string_arg(argv[2]));
  }
  return 0;
}

using Request = void (*NsmHandlers::*)(void*);

// The requests without arguments, each handed to its handler.
template <Request handler>
int on_request(const char*, const char*, lo_arg**, int, lo_message, void* data) {
  const NsmHandlers& handlers = client_of(data)->handlers;
  if (handlers.*handler) {
    (handlers.*handler)(handlers.data);
  }
  return 0;
}

void add_methods(NsmClient* client) {
  lo_server port = client->port;
  lo_server_add_method(port, "/reply", nullptr, on_reply, client);
  lo_server_add_method(port, "/error", nullptr, on_error, client);
  lo_server_add_method(port, nsm_open_path, "sss", on_open, client);
  lo_server_add_method(port, nsm_save_path, "", on_request<&NsmHandlers::save>, client);
  lo_server_add_method(port, "/nsm/client/show_optional_gui", "",
                       on_request<&NsmHandlers::show_gui>, client);
  lo_server_add_method(port, "/nsm/client/hide_optional_gui", "",
                       on_request<&NsmHandlers::hide_gui>, client);
  lo_server_add_method(port, "/nsm/client/session_is_loaded", "",
                       on_request<&NsmHandlers::session_loaded>, client);
}

// Keeps why a send failed, for the caller's message.
int sent(NsmClient* client, int result) {
  if (result < 0) {
    const char* why = lo_address_errstr(client->server);
    client->message = why ? why : "the message could not be sent";
    return -1;
  }
  return 0;
}

} // namespace

NsmClient* nsm_client_new(const char* url, const NsmHandlers* handlers) {
  if (!url) {
    return nullptr;
  }
  lo_address server = lo_address_new_from_url(url);
  if (!server || lo_address_get_protocol(server) != LO_UDP) {
    lo_address_free(server);
    return nullptr;
  }
  lo_server port = lo_server_new_with_proto(nullptr, LO_UDP, ignore_error);
  if (!port) {
    lo_address_free(server);
    return nullptr;
  }
  auto* client = new NsmClient{server, port, *handlers, NSM_ANNOUNCE_NOT_SENT, {}};
  add_methods(client);
  return client;
}

void nsm_client_free(NsmClient* client) {
  if (!client) {
    return;
  }
  lo_server_free(client->port);
  lo_address_free(client->server);
  delete client;
}

int nsm_client_announce(NsmClient* client, const char* application_name, const char* capabilities,
                        const char* executable, int pid) {
  const int result = lo_send_from(client->server, client->port, LO_TT_IMMEDIATE, nsm_announce_path,
                                  "sssiii", application_name, capabilities, executable, 1, 1, pid);
  if (sent(client, result)) {
    return -1;
  }
  client->announce = NSM_ANNOUNCE_PENDING;
  return 0;
}

NsmAnnounceState nsm_client_announce_state(const NsmClient* client) {
  return client->announce;
}

const char* nsm_client_message(const NsmClient* client) {
  return client->message.c_str();
}

int nsm_client_receive(NsmClient* client, int timeout_ms) {
  int handled = 0;
  while (lo_server_recv_noblock(client->port, handled ? 0 : timeout_ms) > 0) {
    ++handled;
  }
  return handled;
}

int nsm_client_reply(NsmClient* client, const char* to_path, const char* message) {
  return sent(client, lo_send_from(client->server, client->port, LO_TT_IMMEDIATE, "/reply", "ss",
                                   to_path, message));
}

int nsm_client_error(NsmClient* client, const char* to_path, int code, const char* message) {
  return sent(client, lo_send_from(client->server, client->port, LO_TT_IMMEDIATE, "/error", "sis",
                                   to_path, code, message));
}

int nsm_client_notify(NsmClient* client, const char* path) {
  return sent(client, lo_send_from(client->server, client->port, LO_TT_IMMEDIATE, path, ""));
}
