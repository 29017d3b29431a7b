#include "host/control_settings.hpp"

#include "host/host.hpp"
#include "state/control.hpp"
#include "ui/ui_update.hpp"

#include <array>
#include <cstdio>

void apply_control_settings(Host* host) {
  if (!host->options.controls) {
    return;
  }
  for (char** setting = host->options.controls; *setting; ++setting) {
    // Symbols are cut at 240 characters, so a longer one never finds its
    // "=" and counts as malformed.
    std::array<char, 256> symbol{};
    float value = 0.0f;
    if (std::sscanf(*setting, "%240[^=]=%f", symbol.data(), &value) != 2) {
      host_log(&host->log, LOG_LEVEL_WARNING, "Ignoring invalid value `%s'", *setting);
      continue;
    }
    Control* control = find_control_by_symbol(&host->controls, symbol.data());
    if (!control) {
      host_log(&host->log, LOG_LEVEL_WARNING, "Ignoring value for unknown control `%s'",
               symbol.data());
      continue;
    }
    apply_control_value(host, control, sizeof(value), host->urids.atom_Float, &value);
    host_log(&host->log, LOG_LEVEL_INFO, "%s = %f", symbol.data(), value);
  }
}
