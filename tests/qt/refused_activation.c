/* Preloaded into bexo-qt by its end-to-end test: a JACK server that
 * refuses to activate the client, as one does that is going away. */
#include <jack/jack.h>

int jack_activate(jack_client_t* client) {
  (void)client;
  return -1;
}
