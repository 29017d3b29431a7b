// Both programs under a session manager, as a musician's session runs
// them: the tests' own server (it speaks the server side of the protocol,
// nothing of Bexo's) starts them with NSM_URL, opens them at a path of the
// session, shows and hides them, saves them and ends them with SIGTERM; a
// second start at the same path must bring back what was saved.

#include "close_window.hpp"
#include "harness/desktop.hpp"
#include "harness/files.hpp"
#include "harness/jack_world.hpp"
#include "harness/nsm_server.hpp"
#include "harness/played_gain.hpp"
#include "harness/saved_values.hpp"
#include "harness/wait_for.hpp"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <lilv/lilv.h>
#include <memory>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr char controls[] = "urn:bexo:test:controls";
constexpr char controls_title[] = "Bexo Test Controls";

struct Program {
  const char* name; ///< The name it announces itself with.
  const char* path;
};

std::string program_name(const testing::TestParamInfo<Program>& info) {
  return info.param.name[5] == 'g' ? "BexoGtk" : "BexoQt";
}

/// A client started as a session manager starts one: with NSM_URL.
std::unique_ptr<ProgramRun> start_client(const NsmServer& server, const Program& program,
                                         const std::vector<std::string>& args = {controls},
                                         const std::string& url = "") {
  return std::make_unique<ProgramRun>(
      program.path, args, std::vector<std::string>{"NSM_URL=" + (url.empty() ? server.url() : url)},
      true);
}

/// The controls fixture's gain in the state saved in `dir`, or -1.
float saved_gain(const std::string& dir) {
  return saved_port_value(dir + "/state.ttl");
}

bool no_window_of(pid_t pid) {
  return soon([&] { return windows_of_pid(pid, 0ms).empty(); });
}

std::string describe(const std::optional<NsmMessage>& message) {
  if (!message) {
    return "no answer";
  }
  std::ostringstream text;
  text << message->path;
  for (const std::string& s : message->strings) {
    text << " \"" << s << '"';
  }
  for (const int i : message->ints) {
    text << ' ' << i;
  }
  return text.str();
}

/// Opens client `index` at `path` as `id` and expects it to answer done.
void expect_opened(NsmServer& server, int index, const std::string& path, const std::string& id) {
  ASSERT_TRUE(server.open(index, path, "Bexo", id));
  const auto reply = server.next_reply("/nsm/client/open", 20s, index);
  ASSERT_TRUE(reply && reply->path == "/reply") << describe(reply);
  EXPECT_TRUE(wait_for([&] { return has_jack_ports(id); }, 5s)) << "no JACK client " << id;
}

// Chooses the menu entry that saves into the session, as a user does, and
// keeps a picture of the open menu.  In bexo-gtk it is in the header bar's
// menu, whose button and entries sit where the default theme puts them.
void save_from_menu(const Program& program, const std::string& window) {
  const std::string shot = std::string(program.name) + "-session-menu";
  std::this_thread::sleep_for(300ms);
  focus(window);
  if (program.name[5] == 'g') {
    const Geometry g = geometry_of(window);
    click(window, g.width - 155, 27);
    std::this_thread::sleep_for(800ms);
    screenshot("root", shot, BEXO_ARTIFACTS_DIR);
    click(window, g.width - 170, 197); // "Save Session"
  } else {
    press_keys("alt+f");
    std::this_thread::sleep_for(800ms);
    screenshot("root", shot, BEXO_ARTIFACTS_DIR);
    press_keys("s"); // "&Save"; "Save &As..." is disabled
  }
}

class Session : public testing::TestWithParam<Program> {};

TEST_P(Session, ARoundSavesEveryValueAndTheWindowAndAStartAtTheSamePathBringsThemBack) {
  const Program& program = GetParam();
  NsmServer server;
  ASSERT_TRUE(server.ok());
  TempDir session;
  const std::string path = session.file("client");
  const std::string id = std::string("nBexo") + (program.name[5] == 'g' ? "G" : "Q");
  const std::vector<std::string> ports_before = jack_ports();
  {
    auto run = start_client(server, program);
    const auto announce = server.wait_for_client(0, 15s);
    ASSERT_TRUE(announce) << run->output();
    EXPECT_EQ(announce->application_name, program.name);
    EXPECT_NE(announce->capabilities.find(":optional-gui:"), std::string::npos);
    EXPECT_NE(announce->capabilities.find(":dirty:"), std::string::npos);
    EXPECT_EQ(announce->executable_name, program.path);
    EXPECT_EQ(announce->api_major, 1);
    EXPECT_EQ(announce->api_minor, 1);
    EXPECT_EQ(announce->pid, run->pid);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(jack_ports(), ports_before) << "a JACK client registered before open";

    expect_opened(server, 0, path, id);
    EXPECT_TRUE(server.next("/nsm/client/gui_is_hidden", 5s, 0));
    EXPECT_TRUE(windows_of_pid(run->pid, 1s).empty()) << "a new client's window shows unasked";

    // The window shows when asked, and a change made in it is unsaved.
    ASSERT_TRUE(server.show_gui(0));
    EXPECT_TRUE(server.next("/nsm/client/gui_is_shown", 5s, 0));
    std::string window = window_of(controls_title);
    ASSERT_FALSE(window.empty());
    EXPECT_TRUE(server.received("/nsm/client/is_dirty", 0).empty());
    std::this_thread::sleep_for(300ms);
    focus(window);
    press_keys("Tab End"); // Gain's dial or scale to its maximum, 2
    EXPECT_TRUE(server.next("/nsm/client/is_dirty", 5s, 0)) << "a control change is not unsaved";

    // Hidden by the server, by the close button and by Quit; shown again.
    ASSERT_TRUE(server.hide_gui(0));
    EXPECT_TRUE(server.next("/nsm/client/gui_is_hidden", 5s, 0));
    EXPECT_TRUE(no_window_of(run->pid));
    for (const char* how : {"close button", "ctrl+q"}) {
      ASSERT_TRUE(server.show_gui(0));
      EXPECT_TRUE(server.next("/nsm/client/gui_is_shown", 5s, 0)) << how;
      window = window_of(controls_title);
      ASSERT_FALSE(window.empty()) << how;
      if (how[0] == 'c' && how[1] == 'l') {
        ASSERT_TRUE(close_window(window));
      } else {
        std::this_thread::sleep_for(300ms);
        focus(window);
        press_keys(how);
      }
      EXPECT_TRUE(server.next("/nsm/client/gui_is_hidden", 5s, 0)) << how;
      EXPECT_TRUE(no_window_of(run->pid)) << how << " left the window mapped";
    }
    ASSERT_TRUE(server.show_gui(0));
    EXPECT_TRUE(server.next("/nsm/client/gui_is_shown", 5s, 0));
    window = window_of(controls_title);
    ASSERT_FALSE(window.empty()) << "closing the window ended the program";
    screenshot(window, std::string(program.name) + "-in-session", BEXO_ARTIFACTS_DIR);
    // The window's own Save saves into the session, and the server hears
    // that nothing is left unsaved.
    save_from_menu(program, window);
    EXPECT_TRUE(server.next("/nsm/client/is_clean", 5s, 0)) << "the menu's Save did not save";
    EXPECT_EQ(saved_gain(path), 2.0f);

    ASSERT_TRUE(server.save(0));
    const auto saved = server.next_reply("/nsm/client/save", 15s, 0);
    ASSERT_TRUE(saved && saved->path == "/reply") << describe(saved) << run->output();
    EXPECT_TRUE(server.next("/nsm/client/is_clean", 5s, 0));
    EXPECT_EQ(saved_gain(path), 2.0f);
    EXPECT_EQ(run->terminate(), 0) << run->output();
  }
  EXPECT_FALSE(has_jack_ports(id)) << "the JACK client outlived the program";

  // The session opened again later, by a server started anew, which
  // starts the client as the reference server does: by its name alone.
  NsmServer later;
  ASSERT_TRUE(later.ok());
  auto run = start_client(later, program, {});
  ASSERT_TRUE(later.wait_for_client(0, 15s)) << run->output();
  expect_opened(later, 0, path, id);
  EXPECT_TRUE(later.next("/nsm/client/gui_is_shown", 5s, 0)) << "the window was saved as shown";
  EXPECT_TRUE(later.received("/nsm/client/gui_is_hidden", 0).empty());
  EXPECT_FALSE(window_of(controls_title).empty());
  expect_plays_times(id, 2.0f);
  EXPECT_EQ(run->terminate(), 0) << run->output();
}

TEST_P(Session, AServerGoneBeforeOpenEndsTheClientWithOneAndAMessage) {
  NsmServer server;
  ASSERT_TRUE(server.ok());
  const std::vector<std::string> ports_before = jack_ports();
  auto run = start_client(server, GetParam());
  ASSERT_TRUE(server.wait_for_client(0, 15s)) << run->output();
  server.stop();
  EXPECT_EQ(run->exit_status(30s), 1);
  EXPECT_NE(run->output().find("The session manager sent no open"), std::string::npos)
      << run->output();
  EXPECT_EQ(jack_ports(), ports_before);
}

TEST_P(Session, AnNsmUrlWithNoServerBehindItIsANormalRun) {
  for (const char* url : {"garbage", "osc.udp://127.0.0.1:9/"}) {
    NsmServer unused;
    auto run = start_client(unused, GetParam(), {controls}, url);
    EXPECT_FALSE(window_of(controls_title, 15s).empty()) << url;
    EXPECT_TRUE(wait_for([&] { return has_jack_ports(controls_title); }, 5s)) << url;
    EXPECT_EQ(run->terminate(), 0) << url;
    std::istringstream lines(run->output());
    int mentions = 0;
    for (std::string line; std::getline(lines, line);) {
      mentions += line.find("session manager") != std::string::npos ||
                  line.find("NSM_URL") != std::string::npos;
    }
    EXPECT_LE(mentions, 1) << url << ":\n" << run->output();
  }
}

TEST_P(Session, TwoClientsOfOneProgramRunSideBySideUnderTheirOwnNames) {
  NsmServer server;
  ASSERT_TRUE(server.ok());
  TempDir session;
  auto first = start_client(server, GetParam());
  ASSERT_TRUE(server.wait_for_client(0, 15s)) << first->output();
  auto second = start_client(server, GetParam());
  ASSERT_TRUE(server.wait_for_client(1, 15s)) << second->output();
  expect_opened(server, 0, session.file("a"), "nBexoA");
  expect_opened(server, 1, session.file("b"), "nBexoB");
  EXPECT_TRUE(has_jack_ports("nBexoA"));
  EXPECT_EQ(first->terminate(), 0);
  EXPECT_EQ(second->terminate(), 0);
}

// Keeps a directory from being written to while it lives, also by root
// (the tests may run as root, whom permissions do not stop).
class Unwritable {
public:
  explicit Unwritable(const std::string& dir) : dir(dir) {
    immutable = shell("chattr +i '" + dir + "' 2>/dev/null && echo ok") == "ok";
    if (!immutable) {
      fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    }
  }
  ~Unwritable() {
    if (immutable) {
      shell("chattr -i '" + dir + "'");
    } else {
      fs::permissions(dir, fs::perms::owner_all);
    }
  }
  bool holds() const { return access((dir + "/.").c_str(), W_OK) != 0 || immutable; }

private:
  std::string dir;
  bool immutable = false;
};

TEST_P(Session, ASaveThatCannotBeWrittenIsAnErrorAndKeepsTheStateSavedBefore) {
  NsmServer server;
  ASSERT_TRUE(server.ok());
  TempDir session;
  const std::string path = session.file("client");
  auto run = start_client(server, GetParam());
  ASSERT_TRUE(server.wait_for_client(0, 15s)) << run->output();
  expect_opened(server, 0, path, "nBexoW");
  ASSERT_TRUE(server.save(0));
  ASSERT_EQ(describe(server.next_reply("/nsm/client/save", 15s, 0)),
            "/reply \"/nsm/client/save\" \"Saved\"");
  ASSERT_EQ(saved_gain(path), 1.0f);

  ASSERT_TRUE(server.show_gui(0));
  const std::string window = window_of(controls_title);
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(300ms);
  focus(window);
  press_keys("Tab End");
  ASSERT_TRUE(server.next("/nsm/client/is_dirty", 5s, 0));
  {
    const Unwritable guard(session.path());
    if (!guard.holds()) {
      GTEST_SKIP() << "nothing here can keep root from writing to " << session.path();
    }
    ASSERT_TRUE(server.save(0));
    const auto failed = server.next_reply("/nsm/client/save", 15s, 0);
    ASSERT_TRUE(failed && failed->path == "/error") << describe(failed);
    ASSERT_EQ(failed->strings.size(), 2u);
    EXPECT_EQ(failed->strings[1].rfind("Project could not be saved: ", 0), 0u) << describe(failed);
    EXPECT_NE(failed->strings[1].find(path), std::string::npos) << describe(failed);
  }
  EXPECT_TRUE(server.received("/nsm/client/is_clean", 0).size() == 1u)
      << "a failed save reported the setup clean";
  EXPECT_EQ(saved_gain(path), 1.0f) << "the state saved before is gone";
  EXPECT_EQ(run->terminate(), 0);
}

// The window of a new client is made hidden, and the plugin's own UI with
// it; both must come up whole when the window is first shown.
TEST(SessionHiddenStart, APluginsOwnUiShowsWhenTheWindowIsFirstShown) {
  NsmServer server;
  ASSERT_TRUE(server.ok());
  TempDir session;
  {
    // x42-eq's only UI is an X11 one, drawn by another X client (the UI's
    // own display connection) inside bexo-gtk's window.
    auto run =
        start_client(server, {"bexo-gtk", BEXO_GTK_PATH}, {"http://gareus.org/oss/lv2/fil4#mono"});
    ASSERT_TRUE(server.wait_for_client(0, 15s));
    expect_opened(server, 0, session.file("eq"), "nBexoEq");
    EXPECT_TRUE(windows_of_pid(run->pid, 1s).empty());
    ASSERT_TRUE(server.show_gui(0));
    const std::string window = window_of("x42-eq - Parametric Equalizer Mono");
    ASSERT_FALSE(window.empty());
    const auto client_of = [](const std::string& id) {
      return std::stoul(id, nullptr, 16) & ~0x1ffffful; // Xvfb's resource mask
    };
    EXPECT_TRUE(wait_for(
        [&] {
          for (const std::string& child : descendants_of(window)) {
            const Geometry g = geometry_of(child);
            if (client_of(child) != client_of(window) && g.width >= 200 && g.height >= 100 &&
                shell("xwininfo -id " + child).find("IsViewable") != std::string::npos) {
              return true;
            }
          }
          return false;
        },
        10s))
        << "the plugin's UI is not inside the window shown late";
    std::this_thread::sleep_for(500ms);
    screenshot(window, "bexo-gtk-session-x42-ui", BEXO_ARTIFACTS_DIR);
    EXPECT_EQ(run->terminate(), 0);
  }
  NsmServer qt_server;
  ASSERT_TRUE(qt_server.ok());
  auto run = start_client(qt_server, {"bexo-qt", BEXO_QT_PATH}, {"urn:bexo:test:qtui-fixed"});
  ASSERT_TRUE(qt_server.wait_for_client(0, 15s));
  expect_opened(qt_server, 0, session.file("qtui"), "nBexoUi");
  ASSERT_TRUE(qt_server.show_gui(0));
  const std::string window = window_of("Bexo Test Qt UI (Fixed)");
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(fixed_size(window)) << "the fixed UI's window was not sized when first shown";
  EXPECT_LT(geometry_of(window).width, 800);
  screenshot(window, "bexo-qt-session-qt6-ui", BEXO_ARTIFACTS_DIR);
  EXPECT_EQ(run->terminate(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, Session,
                         testing::Values(Program{"bexo-gtk", BEXO_GTK_PATH},
                                         Program{"bexo-qt", BEXO_QT_PATH}),
                         program_name);

// Opening what the session names, or what the command line names: with
// neither, bexo-gtk lets the user pick a plugin, and bexo-qt, which has no
// way to, answers the open with an error.
TEST(SessionWithoutPlugin, BexoGtkLetsTheUserPickAndBexoQtRefusesTheOpen) {
  NsmServer server;
  ASSERT_TRUE(server.ok());
  TempDir session;
  auto gtk = start_client(server, {"bexo-gtk", BEXO_GTK_PATH}, {});
  ASSERT_TRUE(server.wait_for_client(0, 15s));
  ASSERT_TRUE(server.open(0, session.file("gtk"), "Bexo", "nBexoS"));
  EXPECT_FALSE(window_of("Select Plugin", 15s).empty()) << gtk->output();
  EXPECT_EQ(gtk->terminate(), 0) << "SIGTERM while the user picks";

  // A server of its own: the new process may well get the port the last
  // one had, and a server tells its clients apart by their addresses.
  NsmServer qt_server;
  ASSERT_TRUE(qt_server.ok());
  auto qt = start_client(qt_server, {"bexo-qt", BEXO_QT_PATH}, {});
  ASSERT_TRUE(qt_server.wait_for_client(0, 15s));
  ASSERT_TRUE(qt_server.open(0, session.file("qt"), "Bexo", "nBexoN"));
  const auto refused = qt_server.next_reply("/nsm/client/open", 20s, 0);
  ASSERT_TRUE(refused && refused->path == "/error") << describe(refused);
  EXPECT_NE(refused->strings.back().find("No plugin"), std::string::npos) << describe(refused);
  EXPECT_EQ(qt->exit_status(), 1);
}

} // namespace
