// bexo-gtk's command line: every option reaches its field of the host's
// options, the one argument is kept, and what cannot be right ends the run
// before anything is opened.  The options are parsed by a GApplication as
// the program parses them; a handler after the program's own stops each run
// once the options are handled, so no application starts.

#include "base/log.hpp"
#include "gtk/bexo_gtk.hpp"
#include "gtk/command_line.hpp"
#include "harness/desktop.hpp"
#include "harness/host_rig.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

gint stop_after_options(GApplication*, GVariantDict*, gpointer) {
  return 0;
}

struct Parsed {
  int status = -100;
  HostOptions options{}; ///< The numbers and flags; its texts are below.
  std::string jack_name;
  std::string ui_uri;
  std::vector<std::string> controls;
  std::string plugin_arg;
};

// What GLib stored for the options; a host that is never opened is never
// closed, which would free them.
void free_options(HostOptions* options) {
  g_free(options->jack_name);
  g_strfreev(options->controls);
  g_free(options->ui_uri);
  options->jack_name = nullptr;
  options->controls = nullptr;
  options->ui_uri = nullptr;
}

// Parses `args` as bexo-gtk's command line, into the rig's host, whose
// log keeps what was logged.  The texts of the options are released before
// it returns, so the result holds copies.
Parsed parse(HostRig& rig, std::vector<std::string> args) {
  FrontendApp app{};
  rig.host.gui_data = &app;
  GApplication* application =
      g_application_new("org.bexo.CommandLineTest", G_APPLICATION_NON_UNIQUE);
  command_line_install(application, &rig.host);
  g_signal_connect(application, "handle-local-options", G_CALLBACK(stop_after_options), nullptr);
  args.insert(args.begin(), "bexo-gtk");
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  Parsed parsed;
  parsed.status = g_application_run(application, static_cast<int>(argv.size()), argv.data());
  HostOptions& options = rig.host.options;
  parsed.jack_name = options.jack_name ? options.jack_name : "";
  parsed.ui_uri = options.ui_uri ? options.ui_uri : "";
  for (char** c = options.controls; c && *c; ++c) {
    parsed.controls.emplace_back(*c);
  }
  free_options(&options);
  parsed.options = options;
  parsed.plugin_arg = app.plugin_arg ? app.plugin_arg : "";
  if (app.args_variant) {
    g_variant_unref(app.args_variant);
  }
  g_object_unref(application);
  rig.host.gui_data = nullptr;
  return parsed;
}

TEST(CommandLine, EveryOptionReachesItsField) {
  struct Case {
    std::vector<std::string> args;
    bool (*holds)(const Parsed&);
  };
  const Case cases[] = {
      {{"-b", "4096"}, [](const Parsed& p) { return p.options.ring_size == 4096; }},
      {{"--buffer-size=8192"}, [](const Parsed& p) { return p.options.ring_size == 8192; }},
      {{"-d"}, [](const Parsed& p) { return p.options.dump == 1; }},
      {{"-g"}, [](const Parsed& p) { return p.options.generic_ui == 1; }},
      {{"-l", "128"}, [](const Parsed& p) { return p.options.block_length == 128; }},
      {{"-m"}, [](const Parsed& p) { return p.options.minimal_ui == 1; }},
      {{"-n", "Amp"}, [](const Parsed& p) { return p.jack_name == "Amp"; }},
      {{"-p"}, [](const Parsed& p) { return p.options.print_controls == 1; }},
      {{"-r", "24.5"}, [](const Parsed& p) { return p.options.update_rate == 24.5; }},
      {{"-S", "2"}, [](const Parsed& p) { return p.options.scale_factor == 2.0; }},
      {{"-s"}, [](const Parsed& p) { return p.options.show_hidden == 1; }},
      {{"-t"}, [](const Parsed& p) { return p.options.trace == 1; }},
      {{"-U", "urn:ui"}, [](const Parsed& p) { return p.ui_uri == "urn:ui"; }},
      {{"-x"}, [](const Parsed& p) { return p.options.exact_jack_name == 1; }},
      {{"--exact-jack-name", "--generic-ui"},
       [](const Parsed& p) { return p.options.exact_jack_name == 1 && p.options.generic_ui == 1; }},
  };
  for (const Case& c : cases) {
    HostRig rig;
    const Parsed parsed = parse(rig, c.args);
    EXPECT_EQ(parsed.status, 0) << c.args[0];
    EXPECT_TRUE(c.holds(parsed)) << c.args[0];
  }
}

TEST(CommandLine, ControlSettingsRepeatAndTheOneArgumentIsKept) {
  HostRig rig;
  const Parsed parsed = parse(rig, {"-c", "gain=2", "urn:bexo:test:controls", "--control=mute=1"});
  EXPECT_EQ(parsed.status, 0);
  EXPECT_EQ(parsed.controls, (std::vector<std::string>{"gain=2", "mute=1"}));
  EXPECT_EQ(parsed.plugin_arg, "urn:bexo:test:controls");
  EXPECT_TRUE(rig.lines.empty());
}

TEST(CommandLine, WhatCannotBeRightEndsTheRunWithOneAndSaysWhy) {
  struct Case {
    std::vector<std::string> args;
    const char* error; ///< Logged by the host; none where GLib refuses it itself.
  };
  const Case cases[] = {
      {{"urn:a", "urn:b"}, "Unexpected trailing arguments"},
      {{"-b", "-1", "urn:a"}, "The value of --buffer-size must not be negative (-1)"},
      {{"--block-length=-256", "urn:a"}, "The value of --block-length must not be negative (-256)"},
      {{"-b", "many", "urn:a"}, nullptr},
      {{"-r", "fast", "urn:a"}, nullptr},
  };
  for (const Case& c : cases) {
    HostRig rig;
    const Parsed parsed = parse(rig, c.args);
    EXPECT_EQ(parsed.status, 1) << c.args[0] << " " << c.args[1];
    if (c.error) {
      EXPECT_EQ(rig.logged(LOG_LEVEL_ERROR), std::vector<std::string>{c.error});
    } else {
      EXPECT_TRUE(rig.lines.empty()) << "GLib refuses it before the handler runs";
    }
  }
}

TEST(CommandLine, VersionPrintsTheProjectsVersionAndOpensNothing) {
  EXPECT_EQ(shell(BEXO_GTK_PATH " --version urn:bexo:test:not-installed; echo status $?"),
            "bexo-gtk " BEXO_VERSION "\nstatus 0");
}

TEST(CommandLine, HelpListsEveryOptionWithItsArgumentAndDescription) {
  const std::string help = shell(BEXO_GTK_PATH " --help");
  const char* const lines[] = {
      "] PLUGIN_STATE\n", // after "[OPTION...]", spelt as the locale allows
      "Run an LV2 plugin",
      "-b, --buffer-size=SIZE        Buffer size for plugin <=> UI communication",
      "-c, --control=SETTING         Set control value (e.g. \"vol=1.4\")",
      "-d, --dump                    Dump plugin <=> UI communication",
      "-g, --generic-ui              Show generic UI instead of custom plugin GUI",
      "-l, --block-length=FRAMES     Length of an audio block.",
      "-m, --minimal-ui              Don't show application menu bar or header bar",
      "-n, --jack-name=NAME          JACK client name",
      "-p, --print-controls          Print control output changes to stdout",
      "-r, --update-frequency=HZ     UI update frequency",
      "-S, --scale-factor=FACTOR     UI scale factor",
      "-s, --show-hidden             Show generic controls for ports marked notOnGUI",
      "-t, --trace                   Print debug trace messages",
      "-U, --ui-uri=URI              Load the UI with the given URI",
      "-x, --exact-jack-name         Exit if the requested JACK client name is taken",
      "-V, --version                 Print the version and exit",
  };
  for (const char* line : lines) {
    EXPECT_NE(help.find(line), std::string::npos) << line << "\nin:\n" << help;
  }
}

} // namespace
