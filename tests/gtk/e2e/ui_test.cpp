// Plugins with UIs of their own: bexo-gtk shows them inside its window,
// an X11 UI as a child window and a GTK 3 UI as a widget, sized as the UI
// asks.

#include "gtk_run.hpp"
#include "harness/wait_for.hpp"

#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(BexoGtkUi, AnX11OnlyUiIsEmbeddedAsAChildWindow) {
  // x42-eq has no UI but its OpenGL one for X11, drawn through GLX, which
  // Xvfb provides.
  GtkRun run({"http://gareus.org/oss/lv2/fil4#mono"});
  ASSERT_GT(run.pid, 0);
  const std::string window = plugin_window("x42-eq - Parametric Equalizer Mono");
  ASSERT_FALSE(window.empty());

  // The UI opens a display connection of its own and creates its window
  // there, inside the one bexo-gtk gives it; so a window below bexo-gtk's,
  // as big as a UI, of another X client, is the plugin's.  The X server
  // hands each client ids that share the bits above its resource mask,
  // 0x1fffff for Xvfb's default of 256 clients.
  const auto client_of = [](const std::string& id) {
    return std::stoul(id, nullptr, 16) & ~0x1ffffful;
  };
  const auto plugin_windows = [&] {
    std::vector<std::string> found;
    for (const std::string& child : descendants_of(window)) {
      const Geometry g = geometry_of(child);
      const bool viewable = shell("xwininfo -id " + child).find("IsViewable") != std::string::npos;
      if (client_of(child) != client_of(window) && viewable && g.width >= 200 && g.height >= 100) {
        found.push_back(child);
      }
    }
    return found;
  };
  // The UI maps its window after bexo-gtk has mapped its own.
  ASSERT_TRUE(wait_for([&] { return !plugin_windows().empty(); }, 10s))
      << "no window of the plugin's inside bexo-gtk's";
  const Geometry outer = geometry_of(window);
  for (const std::string& child : plugin_windows()) {
    const Geometry g = geometry_of(child);
    EXPECT_GE(g.x, outer.x);
    EXPECT_LE(g.x + g.width, outer.x + outer.width) << "the UI sticks out of the window";
  }
  std::this_thread::sleep_for(500ms); // for the screenshot: its first frame
  screenshot(window, "bexo-gtk-x42-ui", BEXO_ARTIFACTS_DIR);
  EXPECT_EQ(run.terminate(), 0);
}

TEST(BexoGtkUi, AGtk3UiIsEmbeddedFixedOrResizableAsItSays) {
  struct Case {
    const char* plugin;
    const char* title;
    bool fixed;
  };
  const Case cases[] = {
      {"urn:bexo:test:gtkui-fixed", "Bexo Test GTK UI (Fixed)", true},
      {"urn:bexo:test:gtkui-resizable", "Bexo Test GTK UI (Resizable)", false},
  };
  for (const Case& c : cases) {
    GtkRun run({c.plugin});
    ASSERT_GT(run.pid, 0);
    const std::string window = plugin_window(c.title);
    ASSERT_FALSE(window.empty()) << c.plugin;
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(fixed_size(window), c.fixed) << c.plugin;
    // The UI asks for 320 by 80; the generic panel takes 640 at least.
    const Geometry g = geometry_of(window);
    EXPECT_LT(g.width, 500) << c.plugin << ": the generic panel was shown instead of the UI";
    EXPECT_GE(g.width, 320) << c.plugin;
    if (c.fixed) {
      screenshot(window, "bexo-gtk-gtk3-ui", BEXO_ARTIFACTS_DIR);
    }
    EXPECT_EQ(run.terminate(), 0) << c.plugin;
  }
}

} // namespace
