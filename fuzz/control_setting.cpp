// The settings of the -c option ("symbol=value", repeatable) as any string
// may hold them.  The input is cut at newlines and NULs into settings, each
// in a block of its own length; the params fixture has port controls and
// properties of every value type, so both ways of applying a value run.

#include "engine/process.hpp"
#include "fuzz_host.hpp"
#include "fuzz_targets.hpp"
#include "host/control_settings.hpp"

#include <cstring>
#include <memory>
#include <string>
#include <zix/ring.h>

namespace {

std::vector<std::unique_ptr<char[]>> split_settings(const uint8_t* data, size_t size) {
  std::vector<std::unique_ptr<char[]>> settings;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\n' || data[i] == '\0') {
      const size_t length = i - start;
      settings.emplace_back(new char[length + 1]);
      if (length) {
        std::memcpy(settings.back().get(), data + start, length);
      }
      settings.back()[length] = '\0';
      start = i + 1;
    }
  }
  return settings;
}

} // namespace

int fuzz_control_setting(const uint8_t* data, size_t size) {
  static HostRig* rig = fuzz_open_rig("urn:bexo:test:params", false);
  fuzz_reset(rig);
  Host& host = rig->host;

  const std::vector<std::unique_ptr<char[]>> settings = split_settings(data, size);
  std::vector<char*> controls;
  for (const std::unique_ptr<char[]>& setting : settings) {
    controls.push_back(setting.get());
  }
  controls.push_back(nullptr);
  host.options.controls = controls.data();
  apply_control_settings(&host);
  host.options.controls = nullptr;

  // Each setting is either applied (an info line) or refused (a warning);
  // errors come only from a full ui_ring.
  const size_t told = rig->logged(LOG_LEVEL_INFO).size() + rig->logged(LOG_LEVEL_WARNING).size();
  FUZZ_CHECK(told == settings.size(), "every setting is applied or refused, once");

  rig->cycle();
  int last_error = 0;
  FUZZ_CHECK(take_ui_pass_failures(&host.process, &last_error) == 0,
             "the audio thread reads every value the settings sent");
  FUZZ_CHECK(zix_ring_read_space(host.process.ui_ring) == 0, "a cycle drains ui_ring");
  check_process_ring(rig);
  return 0;
}
