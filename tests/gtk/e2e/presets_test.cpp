// Presets as a user keeps them with bexo-gtk: saved from its dialog into
// ~/.lv2, saved over, refused over an existing bundle until the user says
// so, deleted, and loaded again by a later run.  What lands on disk is read
// back with lilv after each step, as another host would read it.

#include "gtk_run.hpp"
#include "harness/jack_world.hpp"
#include "harness/wait_for.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <lilv/lilv.h>
#include <map>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;

constexpr char plugin[] = "urn:bexo:test:controls";
constexpr char client[] = "bexo-gtk-presets";

// What a preset file holds, read with lilv as any host would.
struct PresetFile {
  bool read = false;
  std::string label;
  std::map<std::string, float> values; ///< By port symbol.
};

PresetFile read_preset(const std::string& path) {
  struct Map {
    std::map<std::string, LV2_URID> ids;
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri) {
      auto& ids = static_cast<Map*>(handle)->ids;
      return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
    }
  } urids;
  LV2_URID_Map map{&urids, Map::map};
  const LV2_URID atom_float = Map::map(&urids, "http://lv2plug.in/ns/ext/atom#Float");

  PresetFile preset;
  LilvWorld* world = lilv_world_new();
  if (LilvState* state = lilv_state_new_from_file(world, &map, nullptr, path.c_str())) {
    preset.read = true;
    const char* label = lilv_state_get_label(state);
    preset.label = label ? label : "";
    struct Values {
      std::map<std::string, float>* values;
      LV2_URID atom_float;
    } values{&preset.values, atom_float};
    lilv_state_emit_port_values(
        state,
        [](const char* symbol, void* data, const void* value, uint32_t size, uint32_t type) {
          auto* v = static_cast<Values*>(data);
          if (type == v->atom_float && size == sizeof(float)) {
            (*v->values)[symbol] = *static_cast<const float*>(value);
          }
        },
        &values);
    lilv_state_free(state);
  }
  lilv_world_free(world);
  return preset;
}

// The local paths of the presets that a bundle's manifest announces: what a
// host that scans ~/.lv2 would offer.
std::set<std::string> listed_presets(const std::string& bundle) {
  std::set<std::string> paths;
  if (!fs::exists(bundle + "/manifest.ttl")) {
    return paths;
  }
  LilvWorld* world = lilv_world_new();
  LilvNode* uri = lilv_new_file_uri(world, nullptr, (bundle + "/").c_str());
  lilv_world_load_bundle(world, uri);
  LilvNode* a = lilv_new_uri(world, "http://www.w3.org/1999/02/22-rdf-syntax-ns#type");
  LilvNode* preset_class = lilv_new_uri(world, "http://lv2plug.in/ns/ext/presets#Preset");
  LilvNodes* presets = lilv_world_find_nodes(world, nullptr, a, preset_class);
  LILV_FOREACH(nodes, i, presets) {
    if (char* path = lilv_file_uri_parse(lilv_node_as_uri(lilv_nodes_get(presets, i)), nullptr)) {
      paths.insert(path);
      lilv_free(path);
    }
  }
  lilv_nodes_free(presets);
  lilv_node_free(preset_class);
  lilv_node_free(a);
  lilv_node_free(uri);
  lilv_world_free(world);
  return paths;
}

std::string title_of(const std::string& window) {
  return text_property(window, "_NET_WM_NAME");
}

// Whether the dialog's OK is lit: GTK fills a sensitive suggested action in
// the header bar with accent blue, and an insensitive one with grey.  Below
// the bar, the entry's focus ring is blue too.
bool ok_lit(const std::string& dialog) {
  const Picture p = capture(dialog);
  for (int y = 0; y < std::min(p.height, 50); ++y) {
    if (row_run(p, y, 20, accent_blue).length > 0) {
      return true;
    }
  }
  return false;
}

// The save dialog once it shows and has the keyboard; "" when it did not.
std::string open_save_dialog(const std::string& window) {
  focus(window);
  press_keys("ctrl+shift+s");
  const std::string dialog = window_of("Save Preset");
  if (!dialog.empty()) {
    focus(dialog);
  }
  return dialog;
}

void type_text(const std::string& text) {
  shell("xdotool type --delay 40 '" + text + "'");
  std::this_thread::sleep_for(300ms); // the dialog looks the bundle up as it changes
}

TEST(BexoGtkPresets, SavedOverwrittenDeletedAndLoadedAgainAfterARestart) {
  GtkRun run({"-n", client, plugin});
  ASSERT_GT(run.pid, 0);
  const std::string window = plugin_window("Bexo Test Controls");
  ASSERT_FALSE(window.empty());
  const std::string bundle = run.home.path() + "/.lv2/Bexo_Test_Controls_Warm_1.preset.lv2";
  const std::string ttl = bundle + "/Warm_1.ttl";
  const auto gain_on_disk = [&] {
    const PresetFile preset = read_preset(ttl);
    const auto gain = preset.values.find("gain");
    return gain == preset.values.end() ? -1.0f : gain->second;
  };

  // The panel gives the keyboard to its first control, Gain's entry; its
  // scale comes next, and End sends it to the maximum, 2.
  std::this_thread::sleep_for(300ms);
  focus(window);
  press_keys("Tab End");

  // --- Save as: nothing to save without a name; then a new bundle.
  std::string dialog = open_save_dialog(window);
  ASSERT_FALSE(dialog.empty());
  EXPECT_FALSE(ok_lit(dialog)) << "OK is sensitive with an empty name";
  press_keys("Return");
  std::this_thread::sleep_for(500ms);
  EXPECT_FALSE(window_of("Save Preset", 0ms).empty()) << "Enter with an empty name closed it";
  EXPECT_FALSE(fs::exists(run.home.path() + "/.lv2"));
  type_text("Warm 1");
  EXPECT_TRUE(ok_lit(dialog)) << "OK is insensitive with a new name";
  press_keys("Return");
  ASSERT_TRUE(window_closes("Save Preset"));
  ASSERT_TRUE(soon([&] { return fs::exists(ttl); })) << ttl;
  {
    const PresetFile preset = read_preset(ttl);
    ASSERT_TRUE(preset.read) << ttl;
    EXPECT_EQ(preset.label, "Warm 1");
    EXPECT_EQ(gain_on_disk(), 2.0f);
    EXPECT_EQ(listed_presets(bundle), std::set<std::string>{ttl});
  }
  EXPECT_TRUE(soon([&] { return title_of(window) == "Bexo Test Controls - Warm 1"; }))
      << title_of(window);

  // --- Save: over the same file, under the same label.  The scale still
  // has the keyboard; Home takes the gain to its minimum, 0.
  focus(window);
  press_keys("Home");
  std::this_thread::sleep_for(300ms);
  press_keys("ctrl+s");
  EXPECT_TRUE(soon([&] { return gain_on_disk() == 0.0f; })) << "gain on disk " << gain_on_disk();
  EXPECT_EQ(read_preset(ttl).label, "Warm 1");
  EXPECT_EQ(listed_presets(bundle), std::set<std::string>{ttl});
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(bundle)) {
    files += entry.path().extension() == ".ttl";
  }
  EXPECT_EQ(files, 2u) << "the preset and the manifest, nothing more";
  EXPECT_EQ(title_of(window), "Bexo Test Controls - Warm 1");

  // --- Save as over an existing bundle: refused until Overwrite is ticked.
  focus(window);
  press_keys("End");
  dialog = open_save_dialog(window);
  ASSERT_FALSE(dialog.empty());
  type_text("Warm 1");
  screenshot(dialog, "bexo-gtk-save-preset-overwrite", BEXO_ARTIFACTS_DIR);
  EXPECT_FALSE(ok_lit(dialog)) << "OK is sensitive over an existing bundle";
  press_keys("Return");
  std::this_thread::sleep_for(500ms);
  EXPECT_FALSE(window_of("Save Preset", 0ms).empty()) << "Enter saved over the bundle unasked";
  press_keys("Escape");
  ASSERT_TRUE(window_closes("Save Preset"));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(gain_on_disk(), 0.0f) << "the preset changed without Overwrite";

  // Alt+O ticks "_Overwrite": the OK button, of the same mnemonic, is
  // insensitive until then and so not in the way.
  dialog = open_save_dialog(window);
  ASSERT_FALSE(dialog.empty());
  type_text("Warm 1");
  press_keys("alt+o");
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(ok_lit(dialog)) << "Overwrite is ticked and OK is still insensitive";
  press_keys("Return");
  ASSERT_TRUE(window_closes("Save Preset"));
  EXPECT_TRUE(soon([&] { return gain_on_disk() == 2.0f; })) << "gain on disk " << gain_on_disk();
  EXPECT_EQ(read_preset(ttl).label, "Warm 1");
  EXPECT_EQ(listed_presets(bundle), std::set<std::string>{ttl});

  // --- Delete: the file goes, and the manifest no longer announces it.
  // The dialog has no default button; Alt+O is its "_OK".
  focus(window);
  press_keys("ctrl+Delete");
  dialog = window_of("Delete Preset?");
  ASSERT_FALSE(dialog.empty());
  std::this_thread::sleep_for(300ms);
  screenshot(dialog, "bexo-gtk-delete-preset", BEXO_ARTIFACTS_DIR);
  focus(dialog);
  press_keys("alt+o");
  ASSERT_TRUE(window_closes("Delete Preset?"));
  EXPECT_TRUE(soon([&] { return !fs::exists(ttl); })) << ttl << " is still there";
  EXPECT_TRUE(listed_presets(bundle).empty());
  EXPECT_TRUE(soon([&] { return title_of(window) == "Bexo Test Controls"; })) << title_of(window);

  // --- Saved again at a gain of 2; a delete that is cancelled keeps the
  // file, but the run no longer has it as its preset.
  dialog = open_save_dialog(window);
  ASSERT_FALSE(dialog.empty());
  type_text("Warm 1");
  press_keys("Return");
  ASSERT_TRUE(window_closes("Save Preset"));
  ASSERT_TRUE(soon([&] { return gain_on_disk() == 2.0f; })) << "gain on disk " << gain_on_disk();
  ASSERT_TRUE(soon([&] { return title_of(window) == "Bexo Test Controls - Warm 1"; }));
  focus(window);
  press_keys("ctrl+Delete");
  ASSERT_FALSE(window_of("Delete Preset?").empty());
  focus(window_of("Delete Preset?"));
  press_keys("Escape");
  ASSERT_TRUE(window_closes("Delete Preset?"));
  EXPECT_TRUE(soon([&] { return title_of(window) == "Bexo Test Controls"; })) << title_of(window);
  EXPECT_TRUE(fs::exists(ttl)) << "Cancel deleted the preset";
  focus(window);
  press_keys("ctrl+q");
  ASSERT_EQ(run.exit_status(), 0);

  // --- A new run, in the same home, started from the preset's file: the
  // plugin plays with the gain of 2 that the file holds, where its default
  // is 1.
  Source source(1, 0);
  Sink sink(1, 0);
  ASSERT_TRUE(source.ok() && sink.ok() && source.activate() && sink.activate());
  run.pid = start_program(BEXO_GTK_PATH, {"-n", client, ttl}, run.home.env());
  ASSERT_GT(run.pid, 0);
  ASSERT_FALSE(plugin_window("Bexo Test Controls").empty());
  const std::string out = std::string(client) + ":out_l";
  ASSERT_TRUE(wait_for([&] { return jack_port_by_name(source.client, out.c_str()) != nullptr; }));
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(0), std::string(client) + ":in_l"));
  ASSERT_TRUE(connect_ports(sink.client, out, sink.audio_name(0)));
  sink.check_stream(0, 0, 2.0f);
  ASSERT_TRUE(wait_for([&] { return sink.checked_frames(0) > 4800; }))
      << "the output never became the input times 2";
  EXPECT_EQ(sink.bad_frames(0), 0u);
  // A busy machine may make the server overrun; a break is a fault only
  // where JACK reported no xrun.
  EXPECT_LE(sink.breaks(0), source.xruns.load() + sink.xruns.load());
  EXPECT_EQ(run.terminate(), 0);
}

} // namespace
