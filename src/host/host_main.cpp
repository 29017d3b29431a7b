#include "host/host_main.hpp"

#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/lifecycle.hpp"
#include "host/signals.hpp"
#include "jack/backend.hpp"

#include <memory>

int host_main(int argc, char** argv, const Frontend* frontend) {
  Host host{};
  host.frontend = frontend;
  auto backend = std::make_unique<Backend>();
  host.backend = backend.get();
  host_init_args(&host, argc, argv);
  set_quit_semaphore(&host.quit_sem);
  install_signal_handler();

  int status = frontend->gui_init(&host);
  if (status == 0) {
    status = frontend->gui_run(&host);
  }
  frontend->gui_close(&host);
  return status;
}
