#include "gtk/command_line.hpp"

#include "base/log.hpp"
#include "gtk/bexo_gtk.hpp"
#include "host/host.hpp"

#include <array>
#include <cstdint>
#include <cstdio>

namespace {

// GLib parses integers as gint; the fields are unsigned, so a negative
// number would otherwise become a request for gigabytes.
bool refuse_negative(Host* host, uint32_t field, const char* option) {
  if (static_cast<int32_t>(field) >= 0) {
    return false;
  }
  host_log(&host->log, LOG_LEVEL_ERROR, "The value of --%s must not be negative (%d)", option,
           static_cast<int32_t>(field));
  return true;
}

} // namespace

void command_line_install(GApplication* app, Host* host) {
  HostOptions& o = host->options;
  // GApplication copies the entries; the texts must outlive the run.
  const std::array<GOptionEntry, 17> entries{{
      {"buffer-size", 'b', 0, G_OPTION_ARG_INT, &o.ring_size,
       "Buffer size for plugin <=> UI communication", "SIZE"},
      {"control", 'c', 0, G_OPTION_ARG_STRING_ARRAY, &o.controls,
       "Set control value (e.g. \"vol=1.4\")", "SETTING"},
      {"dump", 'd', 0, G_OPTION_ARG_NONE, &o.dump, "Dump plugin <=> UI communication", nullptr},
      {"generic-ui", 'g', 0, G_OPTION_ARG_NONE, &o.generic_ui,
       "Show generic UI instead of custom plugin GUI", nullptr},
      {"block-length", 'l', 0, G_OPTION_ARG_INT, &o.block_length, "Length of an audio block.",
       "FRAMES"},
      {"minimal-ui", 'm', 0, G_OPTION_ARG_NONE, &o.minimal_ui,
       "Don't show application menu bar or header bar", nullptr},
      {"jack-name", 'n', 0, G_OPTION_ARG_STRING, &o.jack_name, "JACK client name", "NAME"},
      {"print-controls", 'p', 0, G_OPTION_ARG_NONE, &o.print_controls,
       "Print control output changes to stdout", nullptr},
      {"update-frequency", 'r', 0, G_OPTION_ARG_DOUBLE, &o.update_rate, "UI update frequency",
       "HZ"},
      {"scale-factor", 'S', 0, G_OPTION_ARG_DOUBLE, &o.scale_factor, "UI scale factor", "FACTOR"},
      {"show-hidden", 's', 0, G_OPTION_ARG_NONE, &o.show_hidden,
       "Show generic controls for ports marked notOnGUI", nullptr},
      {"trace", 't', 0, G_OPTION_ARG_NONE, &o.trace, "Print debug trace messages", nullptr},
      {"ui-uri", 'U', 0, G_OPTION_ARG_STRING, &o.ui_uri, "Load the UI with the given URI", "URI"},
      {"exact-jack-name", 'x', 0, G_OPTION_ARG_NONE, &o.exact_jack_name,
       "Exit if the requested JACK client name is taken", nullptr},
      {"version", 'V', 0, G_OPTION_ARG_NONE, &frontend_app(host)->print_version,
       "Print the version and exit", nullptr},
      // No storage of its own: GApplication puts the rest into its options
      // dictionary, where handle_local_options finds it.
      {G_OPTION_REMAINING, 0, 0, G_OPTION_ARG_STRING_ARRAY, nullptr, nullptr, nullptr},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
  }};
  g_application_add_main_option_entries(app, entries.data());
  g_application_set_option_context_parameter_string(app, "PLUGIN_STATE");
  g_application_set_option_context_summary(app, "Run an LV2 plugin");
  g_signal_connect(app, "handle-local-options", G_CALLBACK(handle_local_options), host);
}

gint handle_local_options(GApplication*, GVariantDict* options, gpointer data) {
  auto* host = static_cast<Host*>(data);
  FrontendApp* app = frontend_app(host);
  if (app->print_version) {
    std::printf("bexo-gtk %s\n", BEXO_VERSION);
    return 0;
  }
  if (refuse_negative(host, host->options.ring_size, "buffer-size") ||
      refuse_negative(host, host->options.block_length, "block-length")) {
    return 1;
  }
  app->args_variant =
      g_variant_dict_lookup_value(options, G_OPTION_REMAINING, G_VARIANT_TYPE("as"));
  if (!app->args_variant) {
    return -1;
  }
  gsize count = 0;
  const gchar** args = g_variant_get_strv(app->args_variant, &count);
  if (count == 1) {
    app->plugin_arg = args[0];
  }
  g_free(args);
  if (count > 1) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Unexpected trailing arguments");
    return 1;
  }
  return -1;
}
