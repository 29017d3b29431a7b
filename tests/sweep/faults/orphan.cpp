// bexo-sweep-orphan SECONDS: holds a JACK client of its own for SECONDS,
// or until the server goes, then ends; the leave-client plugin starts it so
// that a client is still registered after its host has gone.

#include <atomic>
#include <cstdlib>
#include <jack/jack.h>
#include <unistd.h>

namespace {

std::atomic<bool> server_gone{false};

void on_shutdown(void*) {
  server_gone = true;
}

} // namespace

int main(int argc, char** argv) {
  jack_client_t* client = jack_client_open("bexo-sweep-orphan", JackNoStartServer, nullptr);
  if (!client) {
    return 1;
  }
  jack_on_shutdown(client, on_shutdown, nullptr);
  jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  jack_activate(client);
  const int tenths = (argc > 1 ? std::atoi(argv[1]) : 15) * 10;
  for (int i = 0; i < tenths && !server_gone; ++i) {
    usleep(100000);
  }
  if (!server_gone) {
    jack_client_close(client);
  }
  return 0;
}
