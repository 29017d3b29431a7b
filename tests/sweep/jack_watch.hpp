#pragma once

// The sweep's own JACK client, which watches the server for the clients of
// the program under test.  JACK tells every client of each client that
// comes or goes; and a port of another client is announced only once that
// client is active (JACK 2 announces the ports registered before
// jack_activate() at activation), which is how the sweep sees a client
// become active without touching it.  The server cannot tell whose process
// a client is (libjack does not implement jack_get_client_pid), so the
// sweep runs one program at a time and takes every client that registers
// during its run for the program's.

#include <jack/jack.h>
#include <mutex>
#include <string>
#include <vector>

class JackWatch {
public:
  JackWatch();
  ~JackWatch();
  JackWatch(const JackWatch&) = delete;
  JackWatch& operator=(const JackWatch&) = delete;

  bool ok() const { return client != nullptr; }

  struct Seen {
    std::string name;
    bool present = false;   ///< Still registered with the server.
    bool announced = false; ///< One of its ports was announced: it is active.
    bool has_ports = false; ///< The server lists ports of it now.
  };

  /// Forget the clients of earlier runs: from now on only the clients that
  /// register count.
  void begin_run();
  /// The clients that registered since begin_run(), as they are now.
  std::vector<Seen> run_clients();
  /// The names of the ports of `client` that the server still lists.
  std::vector<std::string> ports_of(const std::string& client);

private:
  static void client_registration(const char* name, int registered, void* data);
  static void port_registration(jack_port_id_t port, int registered, void* data);
  Seen* find(const std::string& name);

  jack_client_t* client = nullptr;
  std::mutex mutex; ///< Between JACK's notification thread and the sweep.
  std::vector<Seen> seen;
};
