#pragma once

// A host opened the way bexo-qt opens one, through the one rig: the Qt
// application of gui_init (on Qt's offscreen platform), then host_open on
// the first argument after the program's name.  The widgets a test makes
// are dropped before the host closes, since they hold lilv nodes of its
// world.

#include "harness/host_rig.hpp"
#include "host/frontend.hpp"
#include "host/lifecycle.hpp"
#include "host/periodic_update.hpp"
#include "qt/bexo_qt.hpp"
#include "qt/control_panel.hpp"
#include "qt/controller.hpp"

#include <QMenu>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

class QtHostTest : public testing::Test {
protected:
  void TearDown() override {
    panel.reset();
    menu.reset();
    rig.reset();
  }

  /// Returns host_open's status, or -100 when gui_init failed.
  int open(const std::string& plugin_uri) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    plugin = plugin_uri;
    rig.emplace(std::initializer_list<const char*>{"qt_jack_tests", plugin.c_str()});
    if (bexo_frontend.gui_init(&rig->host) != 0) {
      return -100;
    }
    return rig->open(rig->host.argv[0]);
  }

  Host& host() { return rig->host; }

  std::optional<HostRig> rig;
  std::unique_ptr<QWidget> panel;
  std::unique_ptr<QMenu> menu;

private:
  std::string plugin;
};
