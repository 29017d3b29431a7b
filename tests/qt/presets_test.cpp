// The Presets menu of a real plugin, ZamComp from Debian's zam-plugins: it
// lists the plugin's presets, and choosing one moves the dials of the
// generic panel.  The host is open but not activated, so the restore takes
// the paused path and the periodic update shows what it set.

#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/host_open.hpp"
#include "host/lifecycle.hpp"
#include "jack/backend.hpp"
#include "qt/bexo_qt.hpp"
#include "state/state.hpp"
#include "ui/ui_update.hpp"

#include <QApplication>
#include <QDial>
#include <QMenu>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace {

TEST(PresetsMenu, ListsThePresetsAndChoosingOneMovesTheDials) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  Host host{};
  Backend backend{};
  host.backend = &backend;
  char program[] = "qt_jack_tests";
  char plugin[] = "urn:zamaudio:ZamComp";
  char* argv[] = {program, plugin, nullptr};
  host_init_args(&host, 2, argv);
  ASSERT_EQ(gui_init(&host), 0);
  ASSERT_EQ(host.argc, 1);
  ASSERT_EQ(host_open(&host, host.argv[0]), 0);

  // The actions hold lilv nodes: the menu goes before the host closes.
  auto menu = std::make_unique<QMenu>();
  scan_presets(&host, appendPresetAction, menu.get());
  std::vector<QString> names;
  for (QAction* action : menu->actions()) {
    names.push_back(action->text());
  }
  EXPECT_EQ(names.size(), 3u);
  EXPECT_NE(std::find(names.begin(), names.end(), "VocalLeveller"), names.end());

  std::unique_ptr<QWidget> panel(makeControlPanel(&host));
  periodic_update(&host); // what the open left for the UI
  const auto positions = [&] {
    std::map<uint32_t, int> at;
    for (const Port& port : host.ports) {
      if (port.widget) {
        at[port.index] = static_cast<Controller*>(port.widget)->dialWidget()->value();
      }
    }
    return at;
  };
  const std::map<uint32_t, int> before = positions();

  for (QAction* action : menu->actions()) {
    if (action->text() == "VocalLeveller") {
      action->trigger();
    }
  }
  periodic_update(&host);
  EXPECT_NE(positions(), before);

  for (Port& port : host.ports) {
    port.widget = nullptr;
  }
  panel.reset();
  menu.reset();
  host_close(&host);
}

} // namespace
