// The entry point of both programs: each links this with its one front end.

#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/lifecycle.hpp"
#include "host/signals.hpp"
#include "jack/backend.hpp"

#include <memory>

int main(int argc, char** argv) {
  Host host{};
  auto backend = std::make_unique<Backend>();
  host.backend = backend.get();
  host_init_args(&host, argc, argv);
  set_quit_semaphore(&host.quit_sem);
  install_signal_handler();

  int status = gui_init(&host);
  if (status == 0) {
    status = gui_run(&host);
  }
  gui_close(&host);
  return status;
}
