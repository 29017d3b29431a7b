#include "harness/nsm_server.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <lo/lo.h>

namespace {

// liblo packs OSC arguments at 4-byte boundaries, so a lo_arg may be less
// aligned than its union: read one through its address, never a member.
const char* string_arg(const lo_arg* arg) {
  return reinterpret_cast<const char*>(arg);
}

template <typename T>
T number_arg(const lo_arg* arg) {
  T value{};
  std::memcpy(&value, arg, sizeof(value));
  return value;
}

constexpr const char* announce_path = "/nsm/server/announce";

void report_error(int number, const char* message, const char* where) {
  std::fprintf(stderr, "nsm server: liblo error %d: %s (%s)\n", number, message ? message : "",
               where ? where : "");
}

NsmMessage decode(const char* path, const char* types, lo_arg** argv, int argc) {
  NsmMessage message;
  message.path = path ? path : "";
  message.types = types ? types : "";
  for (int i = 0; types && i < argc && types[i]; ++i) {
    switch (types[i]) {
    case LO_STRING:
      message.strings.emplace_back(string_arg(argv[i]));
      break;
    case LO_SYMBOL:
      message.strings.emplace_back(string_arg(argv[i]));
      break;
    case LO_INT32:
      message.ints.push_back(number_arg<int32_t>(argv[i]));
      break;
    case LO_FLOAT:
      message.floats.push_back(number_arg<float>(argv[i]));
      break;
    default:
      // The protocol uses no other kind; `types` still shows it was there.
      break;
    }
  }
  return message;
}

} // namespace

NsmServer::NsmServer() {
  // No port given: the system picks a free one, so tests never collide.
  thread = lo_server_thread_new(nullptr, report_error);
  if (!thread) {
    return;
  }
  port = lo_server_thread_get_port(thread);
  lo_server_thread_add_method(thread, nullptr, nullptr, on_message, this);
  if (lo_server_thread_start(thread) != 0) {
    lo_server_thread_free(thread);
    thread = nullptr;
  }
}

NsmServer::~NsmServer() {
  stop();
}

std::string NsmServer::url() const {
  return "osc.udp://127.0.0.1:" + std::to_string(port) + "/";
}

void NsmServer::stop() {
  if (!thread) {
    return;
  }
  // Stopping joins the thread, whose handler may be waiting to send; so the
  // send lock is taken only for freeing the socket.
  lo_server_thread_stop(thread);
  std::lock_guard lock(sending);
  lo_server_thread_free(thread);
  thread = nullptr;
}

void NsmServer::answer_announce(AnnounceAnswer answer, int code, const std::string& message) {
  std::lock_guard lock(mutex);
  announce_answer = answer;
  error_code = code;
  error_message = message;
}

int NsmServer::on_message(const char* path, const char* types, lo_arg** argv, int argc,
                          lo_message message, void* self) {
  static_cast<NsmServer*>(self)->receive(path, types, argv, argc, message);
  return 0;
}

void NsmServer::receive(const char* path, const char* types, lo_arg** argv, int argc,
                        lo_message message) {
  NsmMessage received = decode(path, types, argv, argc);
  const lo_address source = lo_message_get_source(message);
  const char* host = source ? lo_address_get_hostname(source) : nullptr;
  const char* source_port = source ? lo_address_get_port(source) : nullptr;
  const std::string host_name = host ? host : "";
  const std::string port_name = source_port ? source_port : "";
  received.from = host_name + ":" + port_name;
  {
    std::lock_guard lock(mutex);
    if (received.path == announce_path && received.types == "sssiii") {
      received.client = register_announce(received.from, host_name, port_name, received);
      // Answered before it is logged, so that whatever a test sends once it
      // saw the client arrive reaches the client after the answer, as it
      // would from a real server.
      answer(host_name, port_name);
    } else if (const auto known_client = index_of.find(received.from);
               known_client != index_of.end()) {
      received.client = known_client->second;
    }
    log.push_back({std::move(received), false});
  }
  arrived.notify_all();
}

int NsmServer::register_announce(const std::string& from, const std::string& host,
                                 const std::string& port, const NsmMessage& message) {
  NsmAnnounce announce{message.strings[0], message.strings[1], message.strings[2],
                       message.ints[0],    message.ints[1],    message.ints[2]};
  if (const auto found = index_of.find(from); found != index_of.end()) {
    known[found->second].announce = std::move(announce);
    return found->second;
  }
  known.push_back({host, port, std::move(announce)});
  const int index = static_cast<int>(known.size()) - 1;
  index_of[from] = index;
  return index;
}

void NsmServer::answer(const std::string& host, const std::string& port) {
  if (announce_answer == AnnounceAnswer::silence) {
    return;
  }
  const lo_address to = lo_address_new(host.c_str(), port.c_str());
  std::lock_guard lock(sending);
  const lo_server server = lo_server_thread_get_server(thread);
  if (announce_answer == AnnounceAnswer::welcome) {
    lo_send_from(to, server, LO_TT_IMMEDIATE, "/reply", "ssss", announce_path, welcome_message,
                 server_name, server_capabilities);
  } else {
    lo_send_from(to, server, LO_TT_IMMEDIATE, "/error", "sis", announce_path, error_code,
                 error_message.c_str());
  }
  lo_address_free(to);
}

bool NsmServer::send(int index, const char* path, lo_message message) {
  std::string host;
  std::string to_port;
  {
    std::lock_guard lock(mutex);
    if (index < 0 || index >= static_cast<int>(known.size())) {
      lo_message_free(message);
      return false;
    }
    host = known[index].host;
    to_port = known[index].port;
  }
  const lo_address to = lo_address_new(host.c_str(), to_port.c_str());
  bool sent = false;
  {
    std::lock_guard lock(sending);
    // From the server's own socket, so that the client's answer comes back
    // to it.
    if (thread) {
      sent = lo_send_message_from(to, lo_server_thread_get_server(thread), path, message) >= 0;
    }
  }
  lo_address_free(to);
  lo_message_free(message);
  return sent;
}

bool NsmServer::send_plain(int index, const char* path) {
  return send(index, path, lo_message_new());
}

bool NsmServer::open(int index, const std::string& path, const std::string& display_name,
                     const std::string& client_id) {
  const lo_message message = lo_message_new();
  lo_message_add_string(message, path.c_str());
  lo_message_add_string(message, display_name.c_str());
  lo_message_add_string(message, client_id.c_str());
  return send(index, "/nsm/client/open", message);
}

bool NsmServer::save(int index) {
  return send_plain(index, "/nsm/client/save");
}

bool NsmServer::show_gui(int index) {
  return send_plain(index, "/nsm/client/show_optional_gui");
}

bool NsmServer::hide_gui(int index) {
  return send_plain(index, "/nsm/client/hide_optional_gui");
}

bool NsmServer::session_is_loaded(int index) {
  return send_plain(index, "/nsm/client/session_is_loaded");
}

template <typename Match>
std::optional<NsmMessage> NsmServer::take(Match match, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex);
  size_t found = 0;
  const auto untaken = [&] {
    for (found = 0; found < log.size(); ++found) {
      if (!log[found].taken && match(log[found].message)) {
        return true;
      }
    }
    return false;
  };
  if (!arrived.wait_for(lock, limit, untaken)) {
    return std::nullopt;
  }
  log[found].taken = true;
  return log[found].message;
}

std::optional<NsmMessage> NsmServer::next(const std::string& path, std::chrono::milliseconds limit,
                                          int client) {
  return take(
      [&](const NsmMessage& message) {
        return message.path == path && (client < 0 || message.client == client);
      },
      limit);
}

std::optional<NsmMessage> NsmServer::next_reply(const std::string& to_path,
                                                std::chrono::milliseconds limit, int client) {
  return take(
      [&](const NsmMessage& message) {
        return (message.path == "/reply" || message.path == "/error") && !message.strings.empty() &&
               message.strings[0] == to_path && (client < 0 || message.client == client);
      },
      limit);
}

std::vector<NsmMessage> NsmServer::received(const std::string& path, int client) const {
  std::lock_guard lock(mutex);
  std::vector<NsmMessage> found;
  for (const Entry& entry : log) {
    if (entry.message.path == path && (client < 0 || entry.message.client == client)) {
      found.push_back(entry.message);
    }
  }
  return found;
}

std::optional<NsmAnnounce> NsmServer::wait_for_client(int index, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex);
  if (index < 0 ||
      !arrived.wait_for(lock, limit, [&] { return index < static_cast<int>(known.size()); })) {
    return std::nullopt;
  }
  return known[index].announce;
}

int NsmServer::clients() const {
  std::lock_guard lock(mutex);
  return static_cast<int>(known.size());
}
