#pragma once

// A host opened the way bexo-qt opens one: the Qt application of gui_init
// (on Qt's offscreen platform), then host_open on the first argument after
// the program's name.  Its log is kept, and the widgets a test makes are
// dropped before the host closes, since they hold lilv nodes of its world.

#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/host_open.hpp"
#include "host/lifecycle.hpp"
#include "jack/backend.hpp"
#include "qt/bexo_qt.hpp"

#include <QMenu>
#include <QWidget>
#include <cstdarg>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

class QtHostTest : public testing::Test {
protected:
  void TearDown() override {
    panel.reset();
    menu.reset();
    if (opened) {
      host_close(&host);
    }
  }

  /// Returns host_open's status.
  int open(const std::string& plugin_uri) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    plugin = plugin_uri;
    argv = {program.data(), plugin.data(), nullptr};
    host.backend = &backend;
    host_init_args(&host, 2, argv.data());
    host.log.sink = keep_line;
    host.log.sink_data = &lines;
    if (gui_init(&host) != 0) {
      return -100;
    }
    const int status = host_open(&host, host.argv[0]);
    opened = status == 0;
    return status;
  }

  static int keep_line(void* data, int, const char* format, va_list args) {
    char text[512];
    const int n = vsnprintf(text, sizeof(text), format, args);
    static_cast<std::vector<std::string>*>(data)->push_back(text);
    return n;
  }

  Host host{};
  Backend backend{};
  std::vector<std::string> lines; ///< Everything the host logged.
  std::unique_ptr<QWidget> panel;
  std::unique_ptr<QMenu> menu;

private:
  std::string program = "qt_jack_tests";
  std::string plugin;
  std::vector<char*> argv;
  bool opened = false;
};
