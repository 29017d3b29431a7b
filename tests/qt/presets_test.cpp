// The Presets menu of a real plugin, ZamComp from Debian's zam-plugins: it
// lists the plugin's presets, and choosing one moves the dials of the
// generic panel.  The host is open but not activated, so the restore takes
// the paused path and the periodic update shows what it set.

#include "qt_host.hpp"
#include "state/state.hpp"

#include <QApplication>
#include <QDial>
#include <QMenu>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace {

using PresetsMenu = QtHostTest;

TEST_F(PresetsMenu, ListsThePresetsAndChoosingOneMovesTheDials) {
  ASSERT_EQ(open("urn:zamaudio:ZamComp"), 0);
  ASSERT_EQ(host().argc, 1); // gui_init took the program's name away

  menu = std::make_unique<QMenu>();
  scan_presets(&host(), appendPresetAction, menu.get());
  std::vector<QString> names;
  for (QAction* action : menu->actions()) {
    names.push_back(action->text());
  }
  EXPECT_EQ(names.size(), 3u);
  EXPECT_NE(std::find(names.begin(), names.end(), "VocalLeveller"), names.end());

  panel.reset(makeControlPanel(&host()));
  periodic_update(&host()); // what the open left for the UI
  const auto positions = [&] {
    std::map<uint32_t, int> at;
    for (const Port& port : host().ports) {
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
  periodic_update(&host());
  EXPECT_NE(positions(), before);
}

} // namespace
