// The plugin's whole state saved into a folder from one program's window,
// as a user saves it, and opened again with the other program: bexo-gtk and
// bexo-qt write the same kind of folder and each must read the other's.
// What lands on disk is read back with lilv, as another host would read it;
// what the reopened plugin does is checked on every frame it plays.

#include "harness/desktop.hpp"
#include "harness/files.hpp"
#include "harness/jack_world.hpp"
#include "harness/played_gain.hpp"
#include "harness/saved_values.hpp"
#include "harness/wait_for.hpp"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

constexpr char controls[] = "urn:bexo:test:controls";
constexpr char controls_title[] = "Bexo Test Controls";
// Neither program is told a JACK name, so the plugin's name is the client's.
constexpr char controls_client[] = "Bexo Test Controls";

// The chooser and the question that may follow it share the title "Save
// State"; a window is told from the other by its id.
std::vector<std::string> save_state_windows() {
  std::vector<std::string> ids;
  std::istringstream in(shell("xdotool search --onlyvisible --name '^Save State$' 2>/dev/null"));
  for (std::string id; std::getline(in, id);) {
    ids.push_back(id);
  }
  return ids;
}

bool gone(const std::string& window) {
  return soon([&] {
    for (const std::string& id : save_state_windows()) {
      if (id == window) {
        return false;
      }
    }
    return true;
  });
}

// A "Save State" window other than `other`, focused; "" when none showed.
std::string save_state_window_besides(const std::string& other) {
  std::string found;
  soon([&] {
    for (const std::string& id : save_state_windows()) {
      if (id != other) {
        found = id;
      }
    }
    return !found.empty();
  });
  if (!found.empty()) {
    focus(found);
  }
  return found;
}

// Opens the save dialog from the program's window by its shortcut, types
// the folder's path and presses Return, as a user would.  In GTK's chooser
// the leading "/" opens the location entry; Qt's dialog has its path entry
// focused already.  Returns the chooser's id once it has closed, "" when it
// did not show or did not close.
std::string save_through_dialog(const std::string& window, const std::string& folder,
                                const std::string& screenshot_name = "") {
  focus(window);
  press_keys("ctrl+shift+a");
  const std::string chooser = save_state_window_besides("");
  if (chooser.empty()) {
    ADD_FAILURE() << "no Save State dialog";
    return "";
  }
  shell("xdotool type --delay 30 '" + folder + "'");
  std::this_thread::sleep_for(500ms); // the entries complete the path as it is typed
  if (!screenshot_name.empty()) {
    screenshot(chooser, screenshot_name, BEXO_ARTIFACTS_DIR);
  }
  press_keys("Return");
  if (!gone(chooser)) {
    ADD_FAILURE() << "the Save State dialog did not close on Return";
    return "";
  }
  return chooser;
}

// The symbols of the plugin's control inputs: what a saved state must give
// a value for.
std::set<std::string> control_inputs(const char* plugin_uri) {
  std::set<std::string> symbols;
  LilvWorld* world = lilv_world_new();
  lilv_world_load_all(world);
  LilvNode* uri = lilv_new_uri(world, plugin_uri);
  LilvNode* control = lilv_new_uri(world, LV2_CORE__ControlPort);
  LilvNode* input = lilv_new_uri(world, LV2_CORE__InputPort);
  if (const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri)) {
    for (uint32_t i = 0; i < lilv_plugin_get_num_ports(plugin); ++i) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
      if (lilv_port_is_a(plugin, port, control) && lilv_port_is_a(plugin, port, input)) {
        symbols.insert(lilv_node_as_string(lilv_port_get_symbol(plugin, port)));
      }
    }
  }
  lilv_node_free(input);
  lilv_node_free(control);
  lilv_node_free(uri);
  lilv_world_free(world);
  return symbols;
}

std::set<std::string> symbols_of(const std::map<std::string, float>& values) {
  std::set<std::string> symbols;
  for (const auto& [symbol, value] : values) {
    symbols.insert(symbol);
  }
  return symbols;
}

float saved_gain(const std::string& folder) {
  return saved_port_value(folder + "/state.ttl");
}

// Saving into a folder that holds a file of the user's asks first: `no`
// leaves the folder as it was, `yes` adds the state and keeps the file.
void expect_question_before_joining(const std::string& window, const std::string& folder,
                                    const std::string& no, const std::string& yes) {
  fs::create_directory(folder);
  std::ofstream(folder + "/notes.txt") << "the user's";
  for (const std::string& answer : {no, yes}) {
    const std::string chooser = save_through_dialog(window, folder);
    ASSERT_FALSE(chooser.empty());
    const std::string question = save_state_window_besides(chooser);
    ASSERT_FALSE(question.empty()) << "no question before saving among other files";
    press_keys(answer);
    ASSERT_TRUE(gone(question)) << answer << " did not close the question";
    if (answer == no) {
      std::this_thread::sleep_for(500ms);
      EXPECT_FALSE(fs::exists(folder + "/state.ttl")) << "saved though the answer was " << no;
    }
  }
  EXPECT_TRUE(soon([&] { return fs::exists(folder + "/state.ttl"); })) << folder;
  EXPECT_TRUE(fs::exists(folder + "/manifest.ttl"));
  EXPECT_EQ(read_text(folder + "/notes.txt"), "the user's");
  EXPECT_EQ(saved_gain(folder), 2.0f);
}

TEST(SavedState, SavedFromBexoGtkPlaysTheSameInBexoQt) {
  TempDir dir;
  const std::string folder = dir.file("from-gtk"); // the chooser makes it
  {
    ProgramRun gtk(BEXO_GTK_PATH, {controls});
    ASSERT_GT(gtk.pid, 0);
    const std::string window = window_of(controls_title);
    ASSERT_FALSE(window.empty());
    // The panel gives the keyboard to Gain's entry; its scale comes next,
    // and End sends it to the maximum, 2, where the default is 1.
    std::this_thread::sleep_for(300ms);
    focus(window);
    press_keys("Tab End");
    ASSERT_FALSE(save_through_dialog(window, folder, "bexo-gtk-save-state").empty());
    ASSERT_TRUE(soon([&] { return fs::exists(folder + "/state.ttl"); })) << folder;
    EXPECT_TRUE(fs::exists(folder + "/manifest.ttl"));
    EXPECT_EQ(saved_gain(folder), 2.0f);

    expect_question_before_joining(window, dir.file("with-notes"), "Escape", "alt+s");

    focus(window);
    press_keys("ctrl+q");
    ASSERT_EQ(gtk.exit_status(), 0);
  }
  ProgramRun qt(BEXO_QT_PATH, {folder});
  ASSERT_GT(qt.pid, 0);
  ASSERT_FALSE(window_of(controls_title).empty());
  expect_plays_times(controls_client, 2.0f);
  EXPECT_EQ(qt.terminate(), 0);
}

TEST(SavedState, SavedFromBexoQtPlaysTheSameInBexoGtk) {
  TempDir dir;
  // Qt's dialog chooses among folders that exist.
  const std::string folder = dir.file("from-qt");
  fs::create_directory(folder);
  {
    ProgramRun qt(BEXO_QT_PATH, {controls});
    ASSERT_GT(qt.pid, 0);
    const std::string window = window_of(controls_title);
    ASSERT_FALSE(window.empty());
    // Nothing has the keyboard at first; Tab gives it to the first dial,
    // Gain's, and End turns it to the maximum, 2.
    std::this_thread::sleep_for(300ms);
    focus(window);
    press_keys("Tab End");
    ASSERT_FALSE(save_through_dialog(window, folder, "bexo-qt-save-state").empty());
    ASSERT_TRUE(soon([&] { return fs::exists(folder + "/state.ttl"); })) << folder;
    EXPECT_TRUE(fs::exists(folder + "/manifest.ttl"));
    EXPECT_EQ(saved_gain(folder), 2.0f);

    expect_question_before_joining(window, dir.file("with-notes"), "Escape", "alt+y");

    focus(window);
    press_keys("ctrl+q");
    ASSERT_EQ(qt.exit_status(), 0);
  }
  // The state file itself names the saved state as well as its folder.
  ProgramRun gtk(BEXO_GTK_PATH, {folder + "/state.ttl"});
  ASSERT_GT(gtk.pid, 0);
  ASSERT_FALSE(window_of(controls_title).empty());
  expect_plays_times(controls_client, 2.0f);
  EXPECT_EQ(gtk.terminate(), 0);
}

TEST(SavedState, RealPluginsReopenFromTheFolderInTheOtherProgram) {
  struct Case {
    const char* plugin;
    const char* title;
    const char* saver;
    std::vector<std::string> saver_options; // bexo-gtk's generic panel takes no keys away
    const char* opener;
    const char* in_state; // what state.ttl must name besides the plugin and its controls
  };
  const Case cases[] = {
      // Its own state is the values of its 150 parameters.
      {"http://synthv1.sourceforge.net/lv2",
       "synthv1",
       BEXO_GTK_PATH,
       {"-g"},
       BEXO_QT_PATH,
       "lv2:symbol \"OUT1_VOLUME\""},
      // The sample goes with the state, as a file of the folder.
      {"http://lv2plug.in/plugins/eg-sampler",
       "Exampler",
       BEXO_QT_PATH,
       {},
       BEXO_GTK_PATH,
       "<click.wav>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plugin);
    TempDir dir;
    const std::string folder = dir.file("state");
    fs::create_directory(folder);
    {
      std::vector<std::string> args = c.saver_options;
      args.push_back(c.plugin);
      ProgramRun saver(c.saver, args);
      ASSERT_GT(saver.pid, 0);
      const std::string window = window_of(c.title);
      ASSERT_FALSE(window.empty());
      std::this_thread::sleep_for(1s);
      ASSERT_FALSE(save_through_dialog(window, folder).empty());
      ASSERT_TRUE(soon([&] { return fs::exists(folder + "/state.ttl"); }));
      EXPECT_EQ(saver.terminate(), 0);
    }
    const std::string state = read_text(folder + "/state.ttl");
    EXPECT_NE(state.find(std::string("lv2:appliesTo <") + c.plugin + ">"), std::string::npos)
        << state;
    EXPECT_NE(state.find(c.in_state), std::string::npos) << state;
    EXPECT_EQ(symbols_of(saved_port_values(folder + "/state.ttl")), control_inputs(c.plugin));
    if (std::string(c.plugin).find("eg-sampler") != std::string::npos) {
      EXPECT_EQ(fs::file_size(folder + "/click.wav"),
                fs::file_size(BEXO_SYSTEM_LV2_DIR "/eg-sampler.lv2/click.wav"));
    }

    ProgramRun opener(c.opener, {folder}, {}, true);
    ASSERT_GT(opener.pid, 0);
    EXPECT_FALSE(window_of(c.title, 20s).empty()) << opener.output();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(opener.terminate(), 0) << opener.output();
    EXPECT_EQ(opener.output().find("error:"), std::string::npos) << opener.output();
  }
}

bool has_line(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (l == line) {
      return true;
    }
  }
  return false;
}

TEST(SavedState, FoldersThatCannotBeOpenedEndTheRunWithOneAndSayWhy) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files; // name, contents
    const char* error;                                      // DIR is the folder
  };
  const std::string not_installed = "urn:bexo:test:not-installed";
  const std::string prefixes = "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                               "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                               "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
  const Case cases[] = {
      {"an empty folder", {}, "error: No saved state in \"DIR\""},
      {"a folder of other files",
       {{"notes.txt", "the user's"}, {"take1.wav", ""}},
       "error: No saved state in \"DIR\""},
      {"a state of a plugin that is not installed",
       {{"manifest.ttl", prefixes + "<state.ttl> a pset:Preset ;\n  lv2:appliesTo <" +
                             not_installed + "> ;\n  rdfs:seeAlso <state.ttl> .\n"},
        {"state.ttl", prefixes + "<> a pset:Preset ;\n  lv2:appliesTo <" + not_installed +
                          "> ;\n  lv2:port [ lv2:symbol \"gain\" ; pset:value 2.0 ] .\n"}},
       "error: Plugin <urn:bexo:test:not-installed> is not installed"},
  };
  for (const Case& c : cases) {
    for (const char* program : {BEXO_GTK_PATH, BEXO_QT_PATH}) {
      SCOPED_TRACE(std::string(c.name) + ", " + fs::path(program).filename().string());
      TempDir dir;
      for (const auto& [name, contents] : c.files) {
        std::ofstream(dir.file(name)) << contents;
      }
      std::string error = c.error;
      if (const size_t at = error.find("DIR"); at != std::string::npos) {
        error.replace(at, 3, dir.path());
      }
      ProgramRun run(program, {dir.path()}, {}, true);
      ASSERT_GT(run.pid, 0);
      EXPECT_EQ(run.exit_status(), 1) << run.output();
      EXPECT_TRUE(has_line(run.output(), error)) << run.output();
    }
  }
}

} // namespace
