// bexo-gtk's log: every host message in the store from the start, shown
// with its level and colour in the "Log" window, which can be cleared,
// closed and opened again on the same entries; a message from another
// thread reaches the store through the main loop.

#include "base/log.hpp"
#include "dialog_driver.hpp"
#include "gtk/bexo_gtk.hpp"
#include "gtk/log_viewer.hpp"
#include "host/host.hpp"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Row {
  std::string colour;
  std::string level;
  std::string message;
  std::string iso;
};

std::vector<Row> rows_of(GtkTreeModel* model) {
  std::vector<Row> rows;
  GtkTreeIter iter;
  for (bool valid = gtk_tree_model_get_iter_first(model, &iter); valid;
       valid = gtk_tree_model_iter_next(model, &iter)) {
    gchar* text[4] = {};
    gtk_tree_model_get(model, &iter, LOG_COLOUR_COLUMN, &text[0], LOG_LEVEL_COLUMN, &text[1],
                       LOG_MESSAGE_COLUMN, &text[2], LOG_TIME_ISO_COLUMN, &text[3], -1);
    rows.push_back({text[0] ? text[0] : "", text[1] ? text[1] : "", text[2] ? text[2] : "",
                    text[3] ? text[3] : ""});
    for (gchar* t : text) {
      g_free(t);
    }
  }
  return rows;
}

class LogViewer : public testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
  }

  void SetUp() override {
    app.log_store = make_log_store();
    app.main_thread = std::this_thread::get_id();
    host.gui_data = &app;
    host.log.sink = log_sink;
    host.log.sink_data = &app;
  }

  void TearDown() override {
    if (app.log_window) {
      gtk_widget_destroy(GTK_WIDGET(app.log_window));
    }
    g_object_unref(app.log_store);
  }

  std::vector<Row> rows() { return rows_of(GTK_TREE_MODEL(app.log_store)); }

  GtkTreeView* view() {
    return GTK_TREE_VIEW(find_widget(GTK_WIDGET(app.log_window), GTK_TYPE_TREE_VIEW));
  }

  FrontendApp app{};
  Host host{};
};

TEST_F(LogViewer, EveryMessageIsKeptWithItsLevelAndColourAndShownWhenTheWindowOpens) {
  host_log(&host.log, LOG_LEVEL_ERROR, "Failed to %s", "open");
  host_log(&host.log, LOG_LEVEL_WARNING, "Preset <%s> has no rdfs:label", "urn:x");
  host_log(&host.log, LOG_LEVEL_INFO, "Plugin: %s", "urn:y");
  host_log(&host.log, LOG_LEVEL_TRACE, "traced");
  host_log(&host.log, 5, "notice");
  const std::vector<Row> kept = rows();
  ASSERT_EQ(kept.size(), 5u);
  const Row expected[] = {{"Red", "error", "Failed to open", ""},
                          {"Orange", "warning", "Preset <urn:x> has no rdfs:label", ""},
                          {"", "info", "Plugin: urn:y", ""},
                          {"", "debug", "traced", ""},
                          {"", "", "notice", ""}};
  for (size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].colour, expected[i].colour) << i;
    EXPECT_EQ(kept[i].level, expected[i].level) << i;
    EXPECT_EQ(kept[i].message, expected[i].message) << i;
    EXPECT_EQ(kept[i].iso.size() >= 19 && kept[i].iso[10] == 'T', true) << kept[i].iso;
  }

  show_log_window(&host);
  ASSERT_NE(app.log_window, nullptr);
  EXPECT_STREQ(gtk_window_get_title(app.log_window), "Log");
  EXPECT_STREQ(gtk_window_get_role(app.log_window), "log_viewer");
  GtkTreeView* shown = view();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(rows_of(gtk_tree_view_get_model(shown)).size(), 5u);
  // The "Time" column sorts by the ISO time, not by the text it shows.
  const char* const titles[] = {"Time", "Level", "Message"};
  const int sorts[] = {LOG_TIME_ISO_COLUMN, LOG_LEVEL_COLUMN, LOG_MESSAGE_COLUMN};
  for (int i = 0; i < 3; ++i) {
    GtkTreeViewColumn* column = gtk_tree_view_get_column(shown, i);
    EXPECT_STREQ(gtk_tree_view_column_get_title(column), titles[i]);
    EXPECT_EQ(gtk_tree_view_column_get_sort_column_id(column), sorts[i]);
  }
}

TEST_F(LogViewer, ClearingStartsAFreshListAndAReopenedWindowShowsTheSameEntries) {
  host_log(&host.log, LOG_LEVEL_INFO, "before");
  show_log_window(&host);
  GtkWidget* bar = gtk_window_get_titlebar(app.log_window);
  GtkWidget* clear = find_widget(bar, GTK_TYPE_BUTTON);
  ASSERT_NE(clear, nullptr);
  EXPECT_STREQ(gtk_widget_get_tooltip_text(clear), "Clear all log entries");
  gtk_button_clicked(GTK_BUTTON(clear));
  EXPECT_TRUE(rows().empty());
  host_log(&host.log, LOG_LEVEL_WARNING, "after");

  gtk_widget_destroy(GTK_WIDGET(app.log_window));
  EXPECT_EQ(app.log_window, nullptr);
  show_log_window(&host);
  ASSERT_NE(app.log_window, nullptr);
  const std::vector<Row> shown = rows_of(gtk_tree_view_get_model(view()));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].message, "after");
}

TEST_F(LogViewer, AMessageFromAnotherThreadArrivesThroughTheMainLoop) {
  std::thread([&] { host_log(&host.log, LOG_LEVEL_WARNING, "from the plugin's thread"); }).join();
  EXPECT_TRUE(rows().empty()) << "not before the main loop ran";
  for (int i = 0; i < 100 && rows().empty(); ++i) {
    g_main_context_iteration(nullptr, FALSE);
  }
  const std::vector<Row> kept = rows();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].message, "from the plugin's thread");
  EXPECT_EQ(kept[0].level, "warning");
}

} // namespace
