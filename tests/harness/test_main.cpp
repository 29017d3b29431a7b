// The main of every test program.
//
// Tests load plugins through lilv and may open JACK clients.  Whatever the
// caller's environment holds, they must see the fixture bundles built with
// this tree and the system's bundles, and nothing else; and a JACK client
// must never reach or start the user's own server: only the private server
// that bexo-test-env started and named in BEXO_PRIVATE_JACK_SERVER.

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

int main(int argc, char** argv) {
  const std::string lv2_path = std::string(BEXO_FIXTURE_LV2_DIR) + ":" + BEXO_SYSTEM_LV2_DIR;
  setenv("LV2_PATH", lv2_path.c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  const char* private_server = std::getenv("BEXO_PRIVATE_JACK_SERVER");
  setenv("JACK_DEFAULT_SERVER", private_server ? private_server : "bexo-no-server", 1);

  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
