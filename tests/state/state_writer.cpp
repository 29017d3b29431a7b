// Saves the state of a params fixture holding saved_values into a bundle,
// then exits: state_writer PLUGIN-URI BUNDLE-DIR FILE-NAME.  Its exit status
// is 0 only when every step worked, so a test can load the bundle after
// the process that wrote it is gone.

#include "harness/host_rig.hpp"
#include "state/params_values.hpp"
#include "state/state.hpp"

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: state_writer PLUGIN-URI BUNDLE-DIR FILE-NAME\n");
    return 2;
  }
  HostRig rig;
  if (rig.open_manual(argv[1]) != 0 || rig.activate() != 0) {
    std::fprintf(stderr, "state_writer: cannot open %s\n", argv[1]);
    return 1;
  }
  rig.start_cycles();
  if (send_params_values(rig, saved_values) || !wait_for_params_values(rig, saved_values)) {
    std::fprintf(stderr, "state_writer: the plugin did not take the values: %s\n",
                 params_difference(rig, saved_values).c_str());
    return 1;
  }
  const int status = store_preset(&rig.host, argv[2], nullptr, "Written", argv[3]);
  rig.close();
  return status ? 1 : 0;
}
