#include "engine/message.hpp"
#include "frontend/test_frontend.hpp"
#include "state/params_values.hpp"
#include "state/state.hpp"
#include "state/test_host.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string param(const char* name) {
  return std::string("urn:bexo:test:params#") + name;
}

LilvNodePtr uri_node(TestHost& t, const std::string& uri) {
  return LilvNodePtr(lilv_new_uri(t.host.world, uri.c_str()));
}

void load_bundle(TestHost& t, const std::string& dir) {
  const LilvNodePtr bundle(lilv_new_file_uri(t.host.world, nullptr, (dir + "/").c_str()));
  lilv_world_load_bundle(t.host.world, bundle.get());
  scan_presets(&t.host, nullptr, nullptr); // loads the presets themselves
}

bool shown(const Control* control, double value) {
  for (const ShownControl& s : test_frontend().shown) {
    if (s.control == control && s.number == value && s.ui_updating) {
      return true;
    }
  }
  return false;
}

// A message as a reader of one of the rings sees it: its type and the
// first word of its body (port index or run state).
struct Message {
  uint32_t type;
  uint32_t word;
  float value; // of a control message
  bool operator==(const Message&) const = default;
};

std::vector<Message> read_messages(ZixRing* ring) {
  std::vector<Message> messages;
  MessageHeader header{};
  while (zix_ring_read(ring, &header, sizeof(header)) == sizeof(header)) {
    std::vector<uint8_t> body(header.size);
    zix_ring_read(ring, body.data(), header.size);
    Message m{header.type, 0, 0.0f};
    if (header.size >= 4) {
      std::memcpy(&m.word, body.data(), 4);
    }
    if (header.type == CONTROL_CHANGE) {
      std::memcpy(&m.value, body.data() + 4, 4);
    }
    messages.push_back(m);
  }
  return messages;
}

// Stands in for the audio thread while it runs: reads ui_ring, records
// every message, applies run-state changes and acknowledges a pause at the
// end of its cycle, without running the plugin.
class RecordingAudio {
public:
  explicit RecordingAudio(ProcessState* process) : process(process) {
    process->run_state.store(RUNNING);
    thread = std::thread([this] { loop(); });
  }
  ~RecordingAudio() {
    stop = true;
    thread.join();
  }
  std::vector<Message> seen() {
    const std::lock_guard<std::mutex> guard(lock);
    return messages;
  }
  std::vector<Message> wait_for(size_t count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen().size() < count && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Anything more would come at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return seen();
  }

private:
  void loop() {
    while (!stop) {
      bool pause = false;
      const uint32_t space = zix_ring_read_space(process->ui_ring);
      for (uint32_t consumed = 0; consumed < space;) {
        MessageHeader header{};
        zix_ring_read(process->ui_ring, &header, sizeof(header));
        std::vector<uint8_t> body(header.size);
        zix_ring_read(process->ui_ring, body.data(), header.size);
        consumed += sizeof(header) + header.size;
        Message m{header.type, 0, 0.0f};
        if (header.size >= 4) {
          std::memcpy(&m.word, body.data(), 4);
        }
        if (header.type == CONTROL_CHANGE) {
          std::memcpy(&m.value, body.data() + 4, 4);
        } else if (header.type == RUN_STATE_CHANGE) {
          process->run_state.store(m.word);
          pause |= m.word == PAUSED;
        }
        const std::lock_guard<std::mutex> guard(lock);
        messages.push_back(m);
      }
      if (pause) {
        zix_sem_post(&process->paused);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

  ProcessState* process;
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::vector<Message> messages;
  std::thread thread;
};

LilvState* preset_state(TestHost& t, const std::string& uri) {
  scan_presets(&t.host, nullptr, nullptr);
  const LilvNodePtr node = uri_node(t, uri);
  return lilv_state_new_from_world(t.host.world, urid_mapper_get_map(t.host.urid_mapper),
                                   node.get());
}

// ---------------------------------------------------------------------------
// The full round trip, with and without thread-safe restore.

class RoundTrip : public testing::TestWithParam<const char*> {
protected:
  void SetUp() override { test_frontend_reset(); }
};

TEST_P(RoundTrip, EveryPortValueAndPropertyComesBackAndTheFileGoesThroughTheScratchDirectory) {
  TestHost t;
  ASSERT_EQ(t.open(GetParam()), 0);
  t.start();
  ASSERT_EQ(send_params_values(t, saved_values), 0);
  ASSERT_TRUE(wait_for_params_values(t, saved_values)) << params_difference(t, saved_values);
  const Control* count = t.property(param("count").c_str());
  const double saved_count = control_value_to_double(&count->value, &t.host.forge);
  EXPECT_EQ(saved_count, 8.0);

  TempDir first;
  ASSERT_EQ(store_preset(&t.host, first.path().c_str(), nullptr, "Round trip", "state.ttl"), 0);
  ASSERT_NE(t.host.preset, nullptr);
  EXPECT_STREQ(lilv_state_get_label(t.host.preset), "Round trip");
  // The plugin made its file in the bundle while saving.
  EXPECT_EQ(read_text(first.file("note.txt")), "saved text");
  EXPECT_TRUE(fs::exists(first.file("manifest.ttl")));

  ASSERT_EQ(send_params_values(t, changed_values), 0);
  ASSERT_TRUE(wait_for_params_values(t, changed_values)) << params_difference(t, changed_values);

  load_bundle(t, first.path());
  const LilvNodePtr first_uri(lilv_node_duplicate(lilv_state_get_uri(t.host.preset)));
  test_frontend().shown.clear();
  ASSERT_EQ(restore_preset(&t.host, first_uri.get()), 0);
  ASSERT_TRUE(wait_for_params_values(t, saved_values)) << params_difference(t, saved_values);
  EXPECT_EQ(control_value_to_double(&count->value, &t.host.forge), saved_count);
  // Every restored port value reached the controls and the front end.
  for (const char* symbol : {"gain", "mix", "depth"}) {
    const Control* control = t.control(symbol);
    const float value = t.host.process.control_values[control->index];
    EXPECT_EQ(control_value_to_double(&control->value, &t.host.forge), value) << symbol;
    EXPECT_TRUE(shown(control, value)) << symbol;
  }

  // Restoring made the plugin's working copy in the scratch directory...
  ASSERT_NE(t.host.scratch_dir, nullptr);
  EXPECT_EQ(read_text(std::string(t.host.scratch_dir) + "/work-note.txt"), "saved text");
  // ...which the next save copies into its bundle.
  TempDir second;
  ASSERT_EQ(store_preset(&t.host, second.path().c_str(), nullptr, nullptr, "again.ttl"), 0);
  EXPECT_EQ(lilv_state_get_label(t.host.preset), nullptr);
  EXPECT_EQ(read_text(second.file("work-note.txt")), "saved text");
  EXPECT_EQ(read_text(second.file("again.ttl")).find(t.host.scratch_dir), std::string::npos);

  ASSERT_EQ(send_params_values(t, changed_values), 0);
  ASSERT_TRUE(wait_for_params_values(t, changed_values)) << params_difference(t, changed_values);
  load_bundle(t, second.path());
  // A null URI lets lilv name the state after its file; restoring the
  // current preset by its own URI makes a fresh state of it.
  const std::string second_uri = lilv_node_as_uri(lilv_state_get_uri(t.host.preset));
  EXPECT_EQ(second_uri.substr(second_uri.size() - 9), "again.ttl");
  ASSERT_EQ(restore_preset(&t.host, lilv_state_get_uri(t.host.preset)), 0);
  ASSERT_TRUE(wait_for_params_values(t, saved_values)) << params_difference(t, saved_values);
}

INSTANTIATE_TEST_SUITE_P(Params, RoundTrip,
                         testing::Values("urn:bexo:test:params", "urn:bexo:test:params-tsr"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return info.index ? "ThreadSafe" : "Paused";
                         });

TEST(SavedBundle, LoadsInAnotherProcessAfterTheWriterExited) {
  test_frontend_reset();
  TempDir dir;
  const char* argv[] = {BEXO_STATE_WRITER, "urn:bexo:test:params", dir.path().c_str(),
                        "written.ttl", nullptr};
  pid_t pid = 0;
  ASSERT_EQ(
      posix_spawn(&pid, BEXO_STATE_WRITER, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  TestHost t;
  ASSERT_EQ(t.open("urn:bexo:test:params"), 0);
  LilvState* state = lilv_state_new_from_file(t.host.world, urid_mapper_get_map(t.host.urid_mapper),
                                              nullptr, dir.file("written.ttl").c_str());
  ASSERT_NE(state, nullptr);
  EXPECT_STREQ(lilv_node_as_uri(lilv_state_get_plugin_uri(state)), "urn:bexo:test:params");
  EXPECT_STREQ(lilv_state_get_label(state), "Written");
  EXPECT_EQ(lilv_state_get_num_properties(state), 9u);

  t.start();
  restore_state(&t.host, state);
  lilv_state_free(state);
  EXPECT_TRUE(wait_for_params_values(t, saved_values)) << params_difference(t, saved_values);
}

TEST(RealPlugin, TheSamplersPathSurvivesTheRoundTrip) {
  test_frontend_reset();
  TempDir samples;
  // A short 16-bit mono wave file of the test's own.
  const std::string custom = samples.file("custom.wav");
  {
    std::ofstream wav(custom, std::ios::binary);
    const uint32_t frames = 64;
    const auto put32 = [&wav](uint32_t v) { wav.write(reinterpret_cast<const char*>(&v), 4); };
    const auto put16 = [&wav](uint16_t v) { wav.write(reinterpret_cast<const char*>(&v), 2); };
    wav << "RIFF";
    put32(36 + frames * 2);
    wav << "WAVEfmt ";
    put32(16);
    put16(1);
    put16(1);
    put32(48000);
    put32(96000);
    put16(2);
    put16(16);
    wav << "data";
    put32(frames * 2);
    for (uint32_t i = 0; i < frames; ++i) {
      put16(static_cast<uint16_t>(i * 100));
    }
  }

  TestHost t;
  ASSERT_EQ(t.open("http://lv2plug.in/plugins/eg-sampler"), 0);
  EXPECT_TRUE(t.host.thread_safe_restore);
  ASSERT_NE(t.host.process.state_worker, nullptr);
  t.start();
  const char* sample_uri = "http://lv2plug.in/plugins/eg-sampler#sample";
  const Control* sample = t.property(sample_uri);
  ASSERT_NE(sample, nullptr);
  const auto holds = [&](const std::string& path) {
    return t.wait_until([&] {
      if (sample->value.type != t.host.forge.Path || !sample->value.size) {
        return false;
      }
      std::error_code error;
      const char* got = static_cast<const char*>(control_value_body(&sample->value));
      return fs::equivalent(got, path, error);
    });
  };
  const auto set_sample = [&](const std::string& path) {
    return t.set_property(sample_uri, static_cast<uint32_t>(path.size() + 1), t.host.forge.Path,
                          path.c_str());
  };

  ASSERT_EQ(set_sample(custom), 0);
  ASSERT_TRUE(holds(custom));
  TempDir bundle;
  ASSERT_EQ(store_preset(&t.host, bundle.path().c_str(), nullptr, "Custom", "sampler.ttl"), 0);

  char* bundle_dir = lilv_node_get_path(lilv_plugin_get_bundle_uri(t.host.plugin), nullptr);
  const std::string click = std::string(bundle_dir) + "click.wav";
  lilv_free(bundle_dir);
  ASSERT_EQ(set_sample(click), 0);
  ASSERT_TRUE(holds(click));

  load_bundle(t, bundle.path());
  const LilvNodePtr uri(lilv_node_duplicate(lilv_state_get_uri(t.host.preset)));
  ASSERT_EQ(restore_preset(&t.host, uri.get()), 0);
  EXPECT_TRUE(holds(custom));
}

// ---------------------------------------------------------------------------
// The pause protocol of a restore while the audio thread runs.

struct ProtocolCase {
  const char* name;
  const char* plugin;
  const char* preset;
  bool thread_safe;
  bool control_input;
};

void PrintTo(const ProtocolCase& c, std::ostream* os) {
  *os << c.plugin;
}

class PauseProtocol : public testing::TestWithParam<ProtocolCase> {
protected:
  void SetUp() override { test_frontend_reset(); }
};

TEST_P(PauseProtocol, RestoringWhileRunningPausesExactlyWhenThePluginNeedsIt) {
  const ProtocolCase& c = GetParam();
  TestHost t;
  ASSERT_EQ(t.open(c.plugin), 0);
  ASSERT_EQ(t.host.thread_safe_restore, c.thread_safe);
  ProcessState& p = t.host.process;
  read_messages(p.ui_ring); // what the restore at open left
  read_messages(p.process_ring);
  LilvState* state = preset_state(t, c.preset);
  ASSERT_NE(state, nullptr);

  // The three port values the preset sets, by port index.
  std::vector<Message> values;
  std::pair<TestHost*, std::vector<Message>*> collect{&t, &values};
  lilv_state_emit_port_values(
      state,
      [](const char* symbol, void* data, const void* value, uint32_t, uint32_t) {
        auto* self = static_cast<std::pair<TestHost*, std::vector<Message>*>*>(data);
        const Port* port = find_port_by_symbol(&self->first->host, symbol);
        self->second->push_back({CONTROL_CHANGE, port->index, *static_cast<const float*>(value)});
      },
      &collect);
  ASSERT_EQ(values.size(), 3u);
  std::sort(values.begin(), values.end(),
            [](const Message& a, const Message& b) { return a.word < b.word; });

  std::vector<Message> seen;
  {
    RecordingAudio audio(&p);
    restore_state(&t.host, state);
    seen = audio.wait_for(c.thread_safe ? 4 : c.control_input ? 3 : 2);
    // Stops the recorder before the test reads what the main thread wrote.
  }
  lilv_state_free(state);

  std::vector<Message> announced = read_messages(p.process_ring);
  std::sort(announced.begin(), announced.end(),
            [](const Message& a, const Message& b) { return a.word < b.word; });
  const Message update{UPDATE_REQUEST, 0, 0.0f};
  if (c.thread_safe) {
    // Values travel through ui_ring; nothing but the audio thread writes
    // process_ring, and the UI side was told at once.
    std::vector<Message> controls(seen.begin(), seen.end() - 1);
    std::sort(controls.begin(), controls.end(),
              [](const Message& a, const Message& b) { return a.word < b.word; });
    EXPECT_EQ(controls, values);
    EXPECT_EQ(seen.back(), update);
    EXPECT_TRUE(announced.empty());
    for (const Message& v : values) {
      const Control* control = find_port_control(&t.host.controls, v.word);
      EXPECT_EQ(control_value_to_double(&control->value, &t.host.forge), v.value);
      EXPECT_TRUE(shown(control, v.value)) << v.word;
    }
  } else {
    std::vector<Message> expected{{RUN_STATE_CHANGE, PAUSED, 0.0f}};
    if (c.control_input) {
      expected.push_back(update);
    }
    expected.push_back({RUN_STATE_CHANGE, RUNNING, 0.0f});
    EXPECT_EQ(seen, expected);
    // Written straight into the ports, and announced on process_ring only.
    for (const Message& v : values) {
      EXPECT_EQ(p.control_values[v.word], v.value) << v.word;
    }
    EXPECT_EQ(announced, values);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Plugins, PauseProtocol,
    testing::Values(ProtocolCase{"Controls", "urn:bexo:test:controls",
                                 "urn:bexo:test:controls#preset-soft", false, false},
                    ProtocolCase{"Params", "urn:bexo:test:params",
                                 "urn:bexo:test:params#preset-alpha", false, true},
                    ProtocolCase{"ParamsThreadSafe", "urn:bexo:test:params-tsr",
                                 "urn:bexo:test:params#preset-alpha", true, true}),
    [](const testing::TestParamInfo<ProtocolCase>& info) { return info.param.name; });

TEST(Restore, WhilePausedWritesValuesDirectlyAndSendsNoRunStateMessage) {
  test_frontend_reset();
  TestHost t;
  ASSERT_EQ(t.open("urn:bexo:test:controls"), 0);
  ProcessState& p = t.host.process;
  read_messages(p.process_ring);
  scan_presets(&t.host, nullptr, nullptr);
  ASSERT_EQ(restore_preset(&t.host, uri_node(t, "urn:bexo:test:controls#preset-loud").get()), 0);
  EXPECT_TRUE(read_messages(p.ui_ring).empty());
  const std::vector<Message> expected{
      {CONTROL_CHANGE, 4, 1.8f}, {CONTROL_CHANGE, 7, 4.0f}, {CONTROL_CHANGE, 9, 5000.0f}};
  std::vector<Message> announced = read_messages(p.process_ring);
  std::sort(announced.begin(), announced.end(),
            [](const Message& a, const Message& b) { return a.word < b.word; });
  EXPECT_EQ(announced, expected);
  EXPECT_EQ(p.control_values[4], 1.8f);
  EXPECT_EQ(p.control_values[9], 5000.0f);
  EXPECT_EQ(control_value_to_double(&t.control("steps")->value, &t.host.forge), 4.0);
  EXPECT_STREQ(lilv_node_as_uri(lilv_state_get_uri(t.host.preset)),
               "urn:bexo:test:controls#preset-loud");
}

TEST(Restore, AFailedPauseRequestIsReportedInsteadOfWaitingForever) {
  test_frontend_reset();
  TestHost t;
  ASSERT_EQ(t.open("urn:bexo:test:params"), 0);
  ProcessState& p = t.host.process;
  LilvState* state = preset_state(t, "urn:bexo:test:params#preset-alpha");
  ASSERT_NE(state, nullptr);
  // An audio thread that has stopped reading: the ring fills up.
  while (ring_write_control(p.ui_ring, 2, 0.0f) == 0) {
  }
  p.run_state.store(RUNNING);
  auto restoring = std::async(std::launch::async, [&] { restore_state(&t.host, state); });
  if (restoring.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    zix_sem_post(&p.paused);
    restoring.wait();
    FAIL() << "restore_state waited for a pause it never asked for";
  }
  lilv_state_free(state);
  EXPECT_TRUE(t.logged(LOG_LEVEL_ERROR, "Failed to pause the plugin to restore state"));
  // The plugin was not restored behind the audio thread's back.
  EXPECT_EQ(p.control_values[2], 1.0f);
  p.run_state.store(PAUSED);
}

TEST(Restore, PortValuesForUnknownOrUnfitPortsAreReported) {
  test_frontend_reset();
  TestHost t;
  ASSERT_EQ(t.open("urn:bexo:test:params"), 0);
  ProcessState& p = t.host.process;
  read_messages(p.process_ring);
  const float value = 0.75f;
  const uint32_t f = t.host.forge.Float;

  port_value_set("missing", &t.host, &value, 4, f);
  EXPECT_TRUE(t.logged(LOG_LEVEL_ERROR, "Preset port `missing' is missing"));
  // An event port has no control.
  port_value_set("notify", &t.host, &value, 4, f);
  EXPECT_TRUE(t.logged(LOG_LEVEL_WARNING, "Ignoring preset value for `notify'"));

  // A control with the symbol of a port that is not a control port.
  ControlPtr odd(new Control{});
  odd->type = PROPERTY;
  odd->symbol.reset(lilv_new_string(t.host.world, "control"));
  Control* odd_control = odd.get();
  append_control(&t.host.controls, std::move(odd));
  port_value_set("control", &t.host, &value, 4, f);
  EXPECT_TRUE(t.logged(LOG_LEVEL_ERROR, "Failed to apply preset port value (Not supported)"));
  EXPECT_EQ(odd_control->value.size, 4u);

  // An output control port takes a value like any other control port.
  port_value_set("level", &t.host, &value, 4, f);
  EXPECT_EQ(p.control_values[5], 0.75f);
  EXPECT_EQ(read_messages(p.process_ring), (std::vector<Message>{{CONTROL_CHANGE, 5, 0.75f}}));

  // Only control inputs are saved.
  uint32_t size = 99;
  uint32_t type = 99;
  EXPECT_EQ(port_value_get("gain", &t.host, &size, &type), &p.control_values[2]);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, f);
  for (const char* symbol : {"level", "notify", "missing"}) {
    EXPECT_EQ(port_value_get(symbol, &t.host, &size, &type), nullptr) << symbol;
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, 0u);
  }
}

// ---------------------------------------------------------------------------
// Scratch directory, presets.

TEST(MakePath, PathsShareOneScratchDirectoryMadeOnFirstUse) {
  test_frontend_reset();
  TestHost t;
  ASSERT_EQ(t.open("urn:bexo:test:controls"), 0);
  EXPECT_EQ(t.host.scratch_dir, nullptr);

  // Where no directory can be made, the plugin gets no path, and the next
  // call tries again.
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string saved_tmpdir = tmpdir ? tmpdir : "";
  setenv("TMPDIR", "/nonexistent/bexo", 1);
  EXPECT_EQ(make_path(&t.host, "a.txt"), nullptr);
  EXPECT_TRUE(t.logged(LOG_LEVEL_WARNING, "Failed to create scratch directory"));
  EXPECT_EQ(t.host.scratch_dir, nullptr);
  if (tmpdir) {
    setenv("TMPDIR", saved_tmpdir.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }

  char* a = make_path(&t.host, "a.txt");
  ASSERT_NE(a, nullptr);
  const std::string scratch = t.host.scratch_dir;
  EXPECT_NE(fs::path(scratch).filename().string().find("bexo"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(scratch));
  char* b = make_path(&t.host, "sub/dir/b.txt");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(t.host.scratch_dir, scratch);
  EXPECT_EQ(std::string(a), scratch + "/a.txt");
  EXPECT_EQ(std::string(b), scratch + "/sub/dir/b.txt");
  // The plugin can create the file at once.
  EXPECT_TRUE(static_cast<bool>(std::ofstream(b)));
  std::free(a);
  std::free(b);
}

TEST(Presets, LabelledPresetsReachTheSinkAndAnUnlabelledOneIsWarnedAbout) {
  test_frontend_reset();
  TestHost t;
  ASSERT_EQ(t.open("urn:bexo:test:controls"), 0);
  std::vector<std::pair<std::string, std::string>> listed;
  scan_presets(
      &t.host,
      [](Host*, const LilvNode* preset, const LilvNode* label, void* data) {
        static_cast<std::vector<std::pair<std::string, std::string>>*>(data)->emplace_back(
            lilv_node_as_uri(preset), lilv_node_as_string(label));
        return 0;
      },
      &listed);
  std::sort(listed.begin(), listed.end());
  const std::string ns = "urn:bexo:test:controls#preset-";
  EXPECT_EQ(listed, (std::vector<std::pair<std::string, std::string>>{{ns + "loud", "Loud"},
                                                                      {ns + "plain", "Plain"},
                                                                      {ns + "round", "Round"},
                                                                      {ns + "soft", "Soft"}}));
  EXPECT_TRUE(t.logged(LOG_LEVEL_WARNING, "Preset <" + ns + "unlabelled> has no rdfs:label"));

  // Banks: two presets in one, one in another, one in none.
  std::vector<std::string> banks;
  for (const auto& [uri, label] : listed) {
    const LilvNodePtr bank(
        lilv_world_get(t.host.world, uri_node(t, uri).get(), t.host.nodes.pset_bank, nullptr));
    banks.push_back(bank ? lilv_node_as_uri(bank.get()) : "");
  }
  std::sort(banks.begin(), banks.end());
  EXPECT_EQ(banks, (std::vector<std::string>{"", "urn:bexo:test:controls#bank-bright",
                                             "urn:bexo:test:controls#bank-warm",
                                             "urn:bexo:test:controls#bank-warm"}));

  // What is not a state makes no preset.
  EXPECT_EQ(restore_preset(&t.host, uri_node(t, "urn:bexo:test:no-such-preset").get()), -1);
  EXPECT_EQ(t.host.preset, nullptr);
}

TEST(Presets, ErasingTheCurrentPresetRemovesItsFileAndManifestEntryOnly) {
  test_frontend_reset();
  TestHost t;
  ASSERT_EQ(t.open("urn:bexo:test:controls"), 0);
  EXPECT_EQ(erase_current_preset(&t.host), 1);

  TempDir dir;
  ASSERT_EQ(store_preset(&t.host, dir.path().c_str(), "urn:bexo:test:kept", "Kept", "kept.ttl"), 0);
  ASSERT_EQ(store_preset(&t.host, dir.path().c_str(), "urn:bexo:test:gone", "Gone", "gone.ttl"), 0);
  load_bundle(t, dir.path());
  ASSERT_EQ(restore_preset(&t.host, uri_node(t, "urn:bexo:test:gone").get()), 0);
  ASSERT_TRUE(fs::exists(dir.file("gone.ttl")));
  ASSERT_NE(read_text(dir.file("manifest.ttl")).find("urn:bexo:test:gone"), std::string::npos);

  EXPECT_EQ(erase_current_preset(&t.host), 0);
  EXPECT_EQ(t.host.preset, nullptr);
  EXPECT_FALSE(fs::exists(dir.file("gone.ttl")));
  const std::string manifest = read_text(dir.file("manifest.ttl"));
  EXPECT_EQ(manifest.find("urn:bexo:test:gone"), std::string::npos);
  EXPECT_NE(manifest.find("urn:bexo:test:kept"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir.file("kept.ttl")));
  EXPECT_EQ(erase_current_preset(&t.host), 1);
}

} // namespace
