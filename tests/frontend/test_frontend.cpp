#include "frontend/test_frontend.hpp"

#include "host/frontend.hpp"
#include "host/host.hpp"
#include "state/control.hpp"

#include <chrono>
#include <cstring>
#include <thread>

TestFrontend& test_frontend() {
  // Made on first use, so that a program may configure it from its own
  // static initialisers.
  static TestFrontend instance;
  return instance;
}

namespace {

TestFrontend& frontend = test_frontend();

} // namespace

void test_frontend_reset() {
  frontend.refresh_rate = 60.0f;
  frontend.scale_factor = 1.0f;
  frontend.plugin_choice.clear();
  frontend.native_ui_type.clear();
  frontend.init_status = 0;
  frontend.init = nullptr;
  frontend.open = nullptr;
  frontend.tick = nullptr;
  frontend.close = nullptr;
  frontend.quit = false;
  frontend.close_calls = 0;
  frontend.ticks = 0;
  frontend.init_calls = 0;
  frontend.shown.clear();
}

namespace {

int gui_init(Host* host) {
  ++frontend.init_calls;
  if (frontend.init) {
    frontend.init(host);
  }
  return frontend.init_status;
}

int gui_run(Host* host) {
  if (frontend.open) {
    if (const int status = frontend.open(host)) {
      return status;
    }
  }
  const float rate = host->settings.ui_rate_hz;
  const auto period = std::chrono::milliseconds(rate > 0.0f ? static_cast<int>(1000 / rate) : 1000);
  while (!frontend.quit) {
    std::this_thread::sleep_for(period);
    if (frontend.tick) {
      frontend.tick(host);
    }
    ++frontend.ticks;
  }
  if (frontend.close) {
    frontend.close(host);
  }
  return 0;
}

int gui_close(Host*) {
  ++frontend.close_calls;
  frontend.quit = true;
  return 0;
}

const char* gui_native_ui_type() {
  return frontend.native_ui_type.empty() ? nullptr : frontend.native_ui_type.c_str();
}

float gui_refresh_rate(Host*) {
  return frontend.refresh_rate;
}

float gui_scale_factor(Host*) {
  return frontend.scale_factor;
}

LilvNode* gui_choose_plugin(LilvWorld* world) {
  return frontend.plugin_choice.empty() ? nullptr
                                        : lilv_new_uri(world, frontend.plugin_choice.c_str());
}

void gui_show_control(Host* host, Control* control) {
  ShownControl shown{};
  shown.control = control;
  shown.symbol = control->symbol ? lilv_node_as_string(control->symbol.get()) : "";
  shown.type = control->value.type;
  shown.number = control_value_to_double(&control->value, &host->forge);
  const uint32_t type = control->value.type;
  if (control->value.size &&
      (type == host->forge.String || type == host->forge.Path || type == host->forge.URI)) {
    const auto* text = static_cast<const char*>(control_value_body(&control->value));
    shown.text.assign(text, strnlen(text, control->value.size));
  }
  shown.ui_updating = host->ui_updating;
  frontend.shown.push_back(std::move(shown));
}

// The tests' host runs without a window.
void gui_set_visible(Host*, bool) {}

} // namespace

const Frontend bexo_frontend = {
    gui_init,         gui_run,           gui_close,        gui_native_ui_type, gui_refresh_rate,
    gui_scale_factor, gui_choose_plugin, gui_show_control, gui_set_visible,
};
