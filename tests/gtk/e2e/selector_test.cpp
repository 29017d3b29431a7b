// Started without a plugin, bexo-gtk asks for one in a dialog that lists
// what is installed.  The list here is the fixtures and one system plugin,
// so what each row holds follows from lilv.

#include "gtk_run.hpp"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <locale.h>
#include <map>
#include <set>
#include <string.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The directory of the one system plugin, and of the LV2 core bundle that
// names the plugin classes; without it every plugin would be of the root
// class, and sorting by type would prove nothing.
struct SystemBundles {
  std::string dir;

  explicit SystemBundles(const TempHome& home) : dir(home.path() + "/lv2") {
    std::filesystem::create_directories(dir);
    for (const char* bundle : {"eg-amp.lv2", "core.lv2"}) {
      std::filesystem::create_directory_symlink(std::string(BEXO_SYSTEM_LV2_DIR "/") + bundle,
                                                dir + "/" + bundle);
    }
  }
  std::string lv2_path() const { return BEXO_FIXTURE_LV2_DIR ":" + dir; }
};

// The names of the plugins of the type that comes first, and of the type
// that comes last, when the list is sorted by its Type column: the class
// labels, in the collation order of the locale that bexo-gtk runs in.
struct TypeEnds {
  std::set<std::string> first;
  std::set<std::string> last;
};

TypeEnds type_ends(const std::string& lv2_path) {
  std::multimap<std::string, std::string> by_label;
  LilvWorld* world = lilv_world_new();
  LilvNode* path = lilv_new_string(world, lv2_path.c_str());
  lilv_world_set_option(world, LILV_OPTION_LV2_PATH, path);
  lilv_node_free(path);
  lilv_world_load_all(world);
  const LilvPlugins* plugins = lilv_world_get_all_plugins(world);
  LILV_FOREACH(plugins, i, plugins) {
    const LilvPlugin* plugin = lilv_plugins_get(plugins, i);
    const LilvNode* label = lilv_plugin_class_get_label(lilv_plugin_get_class(plugin));
    LilvNode* name = lilv_plugin_get_name(plugin);
    by_label.emplace(label ? lilv_node_as_string(label) : "",
                     name ? lilv_node_as_string(name) : "");
    lilv_node_free(name);
  }
  lilv_world_free(world);

  std::vector<std::string> labels;
  for (const auto& [label, name] : by_label) {
    labels.push_back(label);
  }
  locale_t collation = newlocale(LC_COLLATE_MASK, "", nullptr);
  if (!collation) {
    collation = newlocale(LC_COLLATE_MASK, "C", nullptr);
  }
  std::sort(labels.begin(), labels.end(), [&](const std::string& a, const std::string& b) {
    return strcoll_l(a.c_str(), b.c_str(), collation) < 0;
  });
  freelocale(collation);

  TypeEnds ends;
  if (!labels.empty()) {
    for (auto [at, end] = by_label.equal_range(labels.front()); at != end; ++at) {
      ends.first.insert(at->second);
    }
    for (auto [at, end] = by_label.equal_range(labels.back()); at != end; ++at) {
      ends.last.insert(at->second);
    }
  }
  return ends;
}

// Where a table's column headers are: a row of buttons whose bottom border
// runs across the table, with vertical borders of the same colour between
// the columns standing on it.  `edges` are the x of those borders, from
// the left.
struct TableHeader {
  int bottom = -1;
  int left = 0;
  std::vector<int> edges;
};

TableHeader find_table_header(const Picture& p) {
  const auto same = [](const uint8_t* a, const uint8_t* b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
  };
  constexpr int tall = 12; // rows a border between headers spans at least
  for (int y = tall; y < p.height; ++y) {
    const PixelRun line = row_run(
        p, y, p.width / 2, [&](const uint8_t* px) { return same(px, p.at(p.width / 2, y)); });
    if (line.length == 0) {
      continue;
    }
    TableHeader header{y, line.x, {}};
    for (int x = line.x + 1; x < line.x + line.length - 1; ++x) {
      bool border = true;
      for (int k = 1; k <= tall && border; ++k) {
        border = same(p.at(x, y - k), p.at(x, y)) && !same(p.at(x - 1, y - k), p.at(x, y)) &&
                 !same(p.at(x + 1, y - k), p.at(x, y));
      }
      if (border) {
        header.edges.push_back(x);
      }
    }
    if (header.edges.size() >= 3) { // four columns
      return header;
    }
  }
  return {};
}

// The selector's window once it shows, or "" when it did not.
std::string selector_window(const std::string& screenshot_name = "") {
  const std::string window = window_of("Select Plugin");
  EXPECT_FALSE(window.empty());
  if (window.empty()) {
    return "";
  }
  EXPECT_EQ(text_property(window, "WM_WINDOW_ROLE"), "plugin_selector");
  std::this_thread::sleep_for(500ms);
  const Geometry g = geometry_of(window);
  EXPECT_GE(g.width, 800);
  EXPECT_GE(g.height, 600);
  if (!screenshot_name.empty()) {
    screenshot(window, screenshot_name, BEXO_ARTIFACTS_DIR);
  }
  focus(window);
  return window;
}

// The title of the plugin window that opened, or "" when none did.
std::string opened_plugin(pid_t pid) {
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < end) {
    for (const std::string& window : windows_of_pid(pid, 0ms)) {
      if (text_property(window, "WM_WINDOW_ROLE") == "plugin_ui") {
        return text_property(window, "_NET_WM_NAME");
      }
    }
    std::this_thread::sleep_for(100ms);
  }
  return "";
}

std::string names(const std::set<std::string>& set) {
  std::string text;
  for (const std::string& name : set) {
    text += " \"" + name + "\"";
  }
  return text;
}

TEST(BexoGtkSelector, TheRowOpenedAfterSortingByTypeIsThePluginOfThatType) {
  // A second click on the header sorts the other way round.  In lilv's
  // order the list starts with eg-amp, an amplifier, and ends with a plain
  // plugin, so the cases that expect the last type would open another
  // plugin if the sort did not happen; the Load case is about the button.
  struct Case {
    const char* how;
    int header_clicks;
    const char* keys; // after a click on the first row; none: a double click on it
    bool last_type;   // a plugin of the type that sorts last, not first
  };
  const Case cases[] = {
      {"double click, descending", 2, nullptr, true},
      {"Load", 1, "alt+l", false},
      {"End and Enter", 1, "End Return", true},
  };
  bool first_case = true;
  for (const Case& c : cases) {
    TempHome bundle_dir;
    const SystemBundles bundles(bundle_dir);
    const TypeEnds expected = type_ends(bundles.lv2_path());
    ASSERT_FALSE(expected.first.empty() || expected.last.empty());
    ASSERT_NE(expected.first, expected.last) << "every plugin is of one type";

    GtkRun run({}, {"LV2_PATH=" + bundles.lv2_path()});
    ASSERT_GT(run.pid, 0);
    const std::string window = selector_window(first_case ? "bexo-gtk-selector" : "");
    first_case = false;
    ASSERT_FALSE(window.empty()) << c.how;
    const TableHeader header = find_table_header(capture(window));
    ASSERT_GE(header.bottom, 0) << c.how << ": no table of four columns in the dialog";

    // Name, Type, Author, URI: Type lies between the first two borders.
    for (int i = 0; i < c.header_clicks; ++i) {
      click(window, (header.edges[0] + header.edges[1]) / 2, header.bottom - 8);
      std::this_thread::sleep_for(600ms); // more than a double click's time
    }
    const int first_row_x = (header.left + header.edges[0]) / 2;
    const int first_row_y = header.bottom + 10;
    if (c.keys) {
      click(window, first_row_x, first_row_y);
      std::this_thread::sleep_for(300ms);
      press_keys(c.keys);
    } else {
      click(window, first_row_x, first_row_y, 2);
    }
    const std::string title = opened_plugin(run.pid);
    const std::set<std::string>& want = c.last_type ? expected.last : expected.first;
    EXPECT_TRUE(want.count(title))
        << c.how << ": opened \"" << title << "\", not one of" << names(want);
    EXPECT_EQ(run.terminate(), 0) << c.how;
  }
}

TEST(BexoGtkSelector, CancellingTheSelectionEndsTheRunWithOne) {
  // Escape closes the dialog; Alt+C is the mnemonic of its "_Cancel" button.
  for (const char* keys : {"Escape", "alt+c"}) {
    GtkRun run({});
    ASSERT_GT(run.pid, 0);
    ASSERT_FALSE(selector_window().empty()) << keys;
    press_keys(keys);
    EXPECT_EQ(run.exit_status(), 1) << keys;
  }
}

} // namespace
