// bexo-gtk's generic panel, as a user sees and moves it: what the plugin
// plays follows the scale a user moves, and the header bar goes with
// --minimal-ui.

#include "gtk_run.hpp"
#include "harness/jack_world.hpp"
#include "harness/wait_for.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <thread>

namespace {

// The filled part of the topmost scale's trough: a band of accent blue three
// to six pixels high with none of it right above or below.  That tells it
// from the thinner focus ring of an entry, and from selected text, whose
// glyphs break the blue.
PixelRun scale_fill(const Picture& p) {
  const auto blue_in = [&](int y, int x0, int length) {
    for (int x = x0; x < x0 + length; ++x) {
      if (accent_blue(p.at(x, y))) {
        return true;
      }
    }
    return false;
  };
  for (int y = 1; y < p.height; ++y) {
    const PixelRun top = row_run(p, y, 20, accent_blue);
    if (top.length == 0 || blue_in(y - 1, top.x, top.length)) {
      continue;
    }
    int rows = 1;
    for (; y + rows < p.height; ++rows) {
      const PixelRun next = row_run(p, y + rows, 20, accent_blue);
      if (next.length == 0 || std::abs(next.x - top.x) > 2 ||
          std::abs(next.length - top.length) > 4) {
        break;
      }
    }
    if (rows >= 3 && rows <= 6 && y + rows < p.height && !blue_in(y + rows, top.x, top.length)) {
      return top;
    }
  }
  return {};
}

TEST(BexoGtkPanel, TheGainScaleOfTheControlsPanelSetsWhatThePluginPlays) {
  Source source(1, 0);
  Sink sink(1, 0);
  ASSERT_TRUE(source.ok() && sink.ok() && source.activate() && sink.activate());

  GtkRun run({"-n", "bexo-gtk-e2e", "urn:bexo:test:controls"});
  ASSERT_GT(run.pid, 0);
  const std::string window = plugin_window("Bexo Test Controls");
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(wait_for(
      [&] { return jack_port_by_name(source.client, "bexo-gtk-e2e:out_l") != nullptr; }, 10s));
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(0), "bexo-gtk-e2e:in_l"));
  ASSERT_TRUE(connect_ports(sink.client, "bexo-gtk-e2e:out_l", sink.audio_name(0)));

  // The default gain of 1 passes the input through unchanged.
  sink.check_stream(0, 0, 1.0f);
  ASSERT_TRUE(wait_for([&] { return sink.checked_frames(0) > 4800; }));
  EXPECT_EQ(sink.bad_frames(0), 0u);
  // A busy machine may make the server overrun; a break is a fault only
  // where JACK reported no xrun.
  EXPECT_LE(sink.breaks(0), source.xruns.load() + sink.xruns.load());

  std::this_thread::sleep_for(300ms);
  EXPECT_GE(geometry_of(window).width, 640);
  screenshot(window, "bexo-gtk-controls-panel", BEXO_ARTIFACTS_DIR);

  // Gain is the first control row, so the topmost filled trough is its
  // scale's, filled up to the knob at the value.  A click on the knob takes
  // the keyboard without moving it; End then sends it to the maximum, 2.
  const Picture picture = capture(window);
  ASSERT_FALSE(picture.empty());
  const PixelRun fill = scale_fill(picture);
  ASSERT_GT(fill.length, 0) << "no scale found in the panel";
  focus(window);
  click(window, fill.x + fill.length + 6, fill.y);
  press_keys("End");

  // Frames made before the new gain arrived are not the stream after a gain
  // of 2; the check starts once it has.
  std::this_thread::sleep_for(500ms);
  sink.check_stream(0, 0, 2.0f);
  ASSERT_TRUE(wait_for([&] { return sink.checked_frames(0) > 4800; }))
      << "the output never became the input times 2";
  EXPECT_EQ(sink.bad_frames(0), 0u);
  EXPECT_LE(sink.breaks(0), source.xruns.load() + sink.xruns.load());

  EXPECT_EQ(run.terminate(), 0);
}

TEST(BexoGtkPanel, SystemPluginsOpenTheirWindowsAndEndOnSigterm) {
  struct Case {
    const char* plugin;
    const char* title;
    bool generic_panel; // no UI of its own to show instead
    const char* screenshot;
  };
  const Case cases[] = {
      {"http://lv2plug.in/plugins/eg-params", "Example Parameters", true, "bexo-gtk-params-panel"},
      {"http://synthv1.sourceforge.net/lv2", "synthv1", false, nullptr},
  };
  for (const Case& c : cases) {
    GtkRun run({c.plugin});
    ASSERT_GT(run.pid, 0);
    const std::string window = plugin_window(c.title);
    ASSERT_FALSE(window.empty()) << c.plugin;
    std::this_thread::sleep_for(1s);
    if (c.generic_panel) {
      EXPECT_GE(geometry_of(window).width, 640) << c.plugin;
    }
    if (c.screenshot) {
      screenshot(window, c.screenshot, BEXO_ARTIFACTS_DIR);
    }
    EXPECT_EQ(run.terminate(), 0) << c.plugin;
  }
}

TEST(BexoGtkPanel, MinimalUiHasNoHeaderBar) {
  // Without a window manager GTK draws the header bar itself, inside the
  // window, and tells window managers to draw no frame (decorations 0 in
  // _MOTIF_WM_HINTS); a window without a header bar says nothing of the
  // kind, and is shorter by the bar.
  struct Seen {
    bool client_decorated = false;
    int height = 0;
  };
  const auto open = [](const std::vector<std::string>& args) {
    Seen seen;
    GtkRun run(args);
    const std::string window = plugin_window("Bexo Test Controls");
    EXPECT_FALSE(window.empty()) << args.front();
    if (window.empty()) {
      return seen;
    }
    std::this_thread::sleep_for(500ms);
    seen.client_decorated = has_property(window, "_MOTIF_WM_HINTS");
    seen.height = geometry_of(window).height;
    EXPECT_EQ(run.terminate(), 0) << args.front();
    return seen;
  };
  const Seen full = open({"urn:bexo:test:controls"});
  const Seen minimal = open({"--minimal-ui", "urn:bexo:test:controls"});
  const Seen short_option = open({"-m", "urn:bexo:test:controls"});
  EXPECT_TRUE(full.client_decorated);
  EXPECT_FALSE(minimal.client_decorated);
  EXPECT_FALSE(short_option.client_decorated);
  EXPECT_LE(minimal.height + 30, full.height) << "the header bar's height is still there";
  EXPECT_EQ(short_option.height, minimal.height);
}

} // namespace
