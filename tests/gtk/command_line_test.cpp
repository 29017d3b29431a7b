// bexo-gtk's command line: every option reaches its field of the host's
// options, the one argument is kept, and what cannot be right ends the run
// before anything is opened.  The options are parsed by a GApplication as
// the program parses them; a handler after the program's own stops each run
// once the options are handled, so no application starts.

#include "base/log.hpp"
#include "gtk/bexo_gtk.hpp"
#include "gtk/command_line.hpp"
#include "harness/host_rig.hpp"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

gint stop_after_options(GApplication*, GVariantDict*, gpointer) {
  return 0;
}

struct Parsed {
  int status = -100;
  HostOptions options{};
  std::string plugin_arg;
};

// Parses `args` as bexo-gtk's command line.  The rig's host keeps what
// GLib stored (its close frees the name and the array), and its log.
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
  parsed.options = rig.host.options;
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
    bool (*holds)(const HostOptions&);
  };
  const Case cases[] = {
      {{"-b", "4096"}, [](const HostOptions& o) { return o.ring_size == 4096; }},
      {{"--buffer-size=8192"}, [](const HostOptions& o) { return o.ring_size == 8192; }},
      {{"-d"}, [](const HostOptions& o) { return o.dump == 1; }},
      {{"-g"}, [](const HostOptions& o) { return o.generic_ui == 1; }},
      {{"-l", "128"}, [](const HostOptions& o) { return o.block_length == 128; }},
      {{"-m"}, [](const HostOptions& o) { return o.minimal_ui == 1; }},
      {{"-n", "Amp"}, [](const HostOptions& o) { return std::string(o.jack_name) == "Amp"; }},
      {{"-p"}, [](const HostOptions& o) { return o.print_controls == 1; }},
      {{"-r", "24.5"}, [](const HostOptions& o) { return o.update_rate == 24.5; }},
      {{"-S", "2"}, [](const HostOptions& o) { return o.scale_factor == 2.0; }},
      {{"-s"}, [](const HostOptions& o) { return o.show_hidden == 1; }},
      {{"-t"}, [](const HostOptions& o) { return o.trace == 1; }},
      {{"-U", "urn:ui"}, [](const HostOptions& o) { return std::string(o.ui_uri) == "urn:ui"; }},
      {{"-x"}, [](const HostOptions& o) { return o.exact_jack_name == 1; }},
      {{"--exact-jack-name", "--generic-ui"},
       [](const HostOptions& o) { return o.exact_jack_name == 1 && o.generic_ui == 1; }},
  };
  for (const Case& c : cases) {
    HostRig rig;
    const Parsed parsed = parse(rig, c.args);
    EXPECT_EQ(parsed.status, 0) << c.args[0];
    EXPECT_TRUE(c.holds(parsed.options)) << c.args[0];
    g_free(rig.host.options.ui_uri);
  }
}

TEST(CommandLine, ControlSettingsRepeatAndTheOneArgumentIsKept) {
  HostRig rig;
  const Parsed parsed = parse(rig, {"-c", "gain=2", "urn:bexo:test:controls", "--control=mute=1"});
  EXPECT_EQ(parsed.status, 0);
  ASSERT_NE(parsed.options.controls, nullptr);
  std::vector<std::string> settings;
  for (char** c = parsed.options.controls; *c; ++c) {
    settings.emplace_back(*c);
    g_free(*c); // the host frees only the array
  }
  EXPECT_EQ(settings, (std::vector<std::string>{"gain=2", "mute=1"}));
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

std::string run(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    std::array<char, 512> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe)) {
      output += buffer.data();
    }
    pclose(pipe);
  }
  return output;
}

TEST(CommandLine, HelpListsEveryOptionWithItsArgumentAndDescription) {
  const std::string help = run(BEXO_GTK_PATH " --help");
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
  };
  for (const char* line : lines) {
    EXPECT_NE(help.find(line), std::string::npos) << line << "\nin:\n" << help;
  }
}

} // namespace
