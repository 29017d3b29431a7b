#include "frontend/test_frontend.hpp"
#include "host/frontend.hpp"
#include "host/host.hpp"

#include <gtest/gtest.h>

namespace {

TEST(TestFrontend, AnswersWhatTheTestSet) {
  test_frontend_reset();
  TestFrontend& f = test_frontend();
  EXPECT_EQ(bexo_frontend.gui_native_ui_type(), nullptr);
  f.native_ui_type = "http://lv2plug.in/ns/extensions/ui#Gtk3UI";
  EXPECT_STREQ(bexo_frontend.gui_native_ui_type(), "http://lv2plug.in/ns/extensions/ui#Gtk3UI");
  f.refresh_rate = 144.0f;
  f.scale_factor = 2.0f;
  f.init_status = 3;
  Host host{};
  EXPECT_EQ(bexo_frontend.gui_refresh_rate(&host), 144.0f);
  EXPECT_EQ(bexo_frontend.gui_scale_factor(&host), 2.0f);
  EXPECT_EQ(bexo_frontend.gui_init(&host), 3);

  LilvWorld* world = lilv_world_new();
  EXPECT_EQ(bexo_frontend.gui_choose_plugin(world), nullptr);
  f.plugin_choice = "urn:bexo:test:controls";
  LilvNode* choice = bexo_frontend.gui_choose_plugin(world);
  ASSERT_NE(choice, nullptr);
  EXPECT_STREQ(lilv_node_as_uri(choice), "urn:bexo:test:controls");
  lilv_node_free(choice);
  lilv_world_free(world);
}

TEST(TestFrontend, RunTicksAtTheUpdateRateUntilClosedTwice) {
  test_frontend_reset();
  TestFrontend& f = test_frontend();
  Host host{};
  host.settings.ui_rate_hz = 50.0f; // every 20 ms
  int opened = 0;
  int closed = 0;
  f.open = [&](Host*) { return ++opened, 0; };
  f.tick = [&](Host* h) {
    if (f.ticks == 4) {
      bexo_frontend.gui_close(h); // as the periodic update does when asked to quit
    }
  };
  f.close = [&](Host*) { ++closed; };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(bexo_frontend.gui_run(&host), 0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(f.ticks, 5);
  EXPECT_GE(elapsed, std::chrono::milliseconds(100));
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(closed, 1);
  bexo_frontend.gui_close(&host); // main's call after gui_run does no harm
  EXPECT_EQ(f.close_calls, 2);

  test_frontend_reset();
  test_frontend().open = [](Host*) { return 7; };
  EXPECT_EQ(bexo_frontend.gui_run(&host), 7);
  EXPECT_EQ(test_frontend().ticks, 0);
}

} // namespace
