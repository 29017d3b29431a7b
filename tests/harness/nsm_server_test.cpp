// The tests' session manager must behave as a server does towards a client
// that sends from its own socket: the end-to-end tests trust it to tell them
// what the programs said and to reach the program it means.

#include "harness/nsm_server.hpp"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <lo/lo.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto arrives = 2s;       // for what must come
constexpr auto stays_away = 200ms; // for what must not

struct Received {
  std::string path;
  std::string types;
  std::vector<std::string> strings;
  std::vector<int> ints;
};

// A session client of the test's own: a socket of its own from which it
// speaks to the server and on which it reads what comes back.
class OscClient {
public:
  explicit OscClient(const NsmServer& nsm)
      : socket(lo_server_new(nullptr, nullptr)), to(lo_address_new_from_url(nsm.url().c_str())) {
    lo_server_add_method(socket, nullptr, nullptr, keep, this);
  }
  ~OscClient() {
    lo_address_free(to);
    lo_server_free(socket);
  }
  OscClient(const OscClient&) = delete;
  OscClient& operator=(const OscClient&) = delete;

  bool ok() const { return socket && to; }
  std::string address() const { return "127.0.0.1:" + std::to_string(lo_server_get_port(socket)); }

  void announce(const char* name, int pid) {
    lo_send_from(to, socket, LO_TT_IMMEDIATE, "/nsm/server/announce", "sssiii", name,
                 ":optional-gui:dirty:", "bexo-gtk", 1, 1, pid);
  }
  void reply(const char* to_path, const char* message) {
    lo_send_from(to, socket, LO_TT_IMMEDIATE, "/reply", "ss", to_path, message);
  }
  void is_dirty() { lo_send_from(to, socket, LO_TT_IMMEDIATE, "/nsm/client/is_dirty", ""); }

  /// The first message with `path` that reaches this client within `limit`.
  std::optional<Received> wait(const std::string& path, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      for (auto it = inbox.begin(); it != inbox.end(); ++it) {
        if (it->path == path) {
          Received found = *it;
          inbox.erase(it);
          return found;
        }
      }
      if (std::chrono::steady_clock::now() > end) {
        return std::nullopt;
      }
      lo_server_recv_noblock(socket, 10);
    }
  }

private:
  static int keep(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                  void* self) {
    Received message{path, types, {}, {}};
    for (int i = 0; i < argc; ++i) {
      if (types[i] == LO_STRING) {
        message.strings.emplace_back(reinterpret_cast<const char*>(argv[i]));
      } else if (types[i] == LO_INT32) {
        int32_t value = 0; // liblo's arguments may be less aligned than lo_arg
        std::memcpy(&value, argv[i], sizeof(value));
        message.ints.push_back(value);
      }
    }
    static_cast<OscClient*>(self)->inbox.push_back(message);
    return 0;
  }

  lo_server socket;
  lo_address to;
  std::vector<Received> inbox;
};

TEST(NsmServer, AnnounceIsWelcomedAndRecorded) {
  NsmServer nsm;
  ASSERT_TRUE(nsm.ok());
  EXPECT_EQ(nsm.url().rfind("osc.udp://127.0.0.1:", 0), 0U) << nsm.url();
  EXPECT_EQ(nsm.url().back(), '/');
  OscClient client(nsm);
  ASSERT_TRUE(client.ok());

  client.announce("Bexo", 4242);
  const auto welcome = client.wait("/reply", arrives);
  ASSERT_TRUE(welcome);
  EXPECT_EQ(welcome->types, "ssss");
  EXPECT_EQ(welcome->strings, (std::vector<std::string>{"/nsm/server/announce", "Welcome",
                                                        "bexo-test-nsm", ":server-control:"}));

  const auto announce = nsm.wait_for_client(0, arrives);
  ASSERT_TRUE(announce);
  EXPECT_EQ(announce->application_name, "Bexo");
  EXPECT_EQ(announce->capabilities, ":optional-gui:dirty:");
  EXPECT_EQ(announce->executable_name, "bexo-gtk");
  EXPECT_EQ(announce->api_major, 1);
  EXPECT_EQ(announce->api_minor, 1);
  EXPECT_EQ(announce->pid, 4242);
  EXPECT_FALSE(nsm.wait_for_client(1, stays_away));

  const auto logged = nsm.received("/nsm/server/announce");
  ASSERT_EQ(logged.size(), 1U);
  EXPECT_EQ(logged[0].types, "sssiii");
  EXPECT_EQ(logged[0].client, 0);
  EXPECT_EQ(logged[0].from, client.address());
}

TEST(NsmServer, OpenReachesTheClientAndItsAnswersAreMatched) {
  NsmServer nsm;
  OscClient client(nsm);
  client.announce("Bexo", 1);
  ASSERT_TRUE(nsm.wait_for_client(0, arrives));
  ASSERT_TRUE(client.wait("/reply", arrives));

  ASSERT_TRUE(nsm.open(0, "/tmp/session/Bexo.nABC", "Bexo", "Bexo.nABC"));
  const auto open = client.wait("/nsm/client/open", arrives);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->types, "sss");
  EXPECT_EQ(open->strings,
            (std::vector<std::string>{"/tmp/session/Bexo.nABC", "Bexo", "Bexo.nABC"}));

  client.is_dirty();
  client.reply("/nsm/client/open", "Loaded");
  EXPECT_FALSE(nsm.next_reply("/nsm/client/save", stays_away));
  EXPECT_FALSE(nsm.next_reply("/nsm/client/open", stays_away, 1));
  const auto answer = nsm.next_reply("/nsm/client/open", arrives, 0);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->path, "/reply");
  EXPECT_EQ(answer->strings, (std::vector<std::string>{"/nsm/client/open", "Loaded"}));
  // Taken once; still part of what was received.
  EXPECT_FALSE(nsm.next_reply("/nsm/client/open", stays_away));
  EXPECT_EQ(nsm.received("/reply", 0).size(), 1U);

  const auto dirty = nsm.next("/nsm/client/is_dirty", arrives);
  ASSERT_TRUE(dirty);
  EXPECT_EQ(dirty->client, 0);
  EXPECT_EQ(dirty->types, "");
  // Nothing the client sends but an announce is answered.
  EXPECT_FALSE(client.wait("/reply", stays_away));
  EXPECT_FALSE(client.wait("/error", stays_away));
}

TEST(NsmServer, RefusesOrIgnoresAnnouncesWhenTold) {
  NsmServer nsm;
  nsm.answer_announce(AnnounceAnswer::error, -2, "Incompatible API");
  OscClient refused(nsm);
  refused.announce("Bexo", 1);
  const auto error = refused.wait("/error", arrives);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->types, "sis");
  EXPECT_EQ(error->strings, (std::vector<std::string>{"/nsm/server/announce", "Incompatible API"}));
  EXPECT_EQ(error->ints, std::vector<int>{-2});
  EXPECT_FALSE(refused.wait("/reply", stays_away));

  nsm.answer_announce(AnnounceAnswer::silence);
  OscClient ignored(nsm);
  ignored.announce("Bexo", 2);
  const auto announce = nsm.wait_for_client(1, arrives);
  ASSERT_TRUE(announce);
  EXPECT_EQ(announce->pid, 2);
  EXPECT_FALSE(ignored.wait("/reply", stays_away));
  EXPECT_FALSE(ignored.wait("/error", stays_away));
}

TEST(NsmServer, TellsTwoClientsApart) {
  NsmServer nsm;
  OscClient first(nsm);
  OscClient second(nsm);
  OscClient stranger(nsm);
  first.announce("Bexo", 10);
  ASSERT_TRUE(nsm.wait_for_client(0, arrives));
  second.announce("Bexo", 20);
  ASSERT_TRUE(nsm.wait_for_client(1, arrives));
  EXPECT_TRUE(first.wait("/reply", arrives));
  EXPECT_TRUE(second.wait("/reply", arrives));
  EXPECT_EQ(nsm.wait_for_client(1, arrives)->pid, 20);

  ASSERT_TRUE(nsm.save(1));
  ASSERT_TRUE(nsm.show_gui(0));
  ASSERT_TRUE(nsm.hide_gui(1));
  ASSERT_TRUE(nsm.session_is_loaded(0));
  EXPECT_TRUE(second.wait("/nsm/client/save", arrives));
  EXPECT_TRUE(first.wait("/nsm/client/show_optional_gui", arrives));
  EXPECT_TRUE(second.wait("/nsm/client/hide_optional_gui", arrives));
  EXPECT_TRUE(first.wait("/nsm/client/session_is_loaded", arrives));
  EXPECT_FALSE(first.wait("/nsm/client/save", stays_away));
  EXPECT_FALSE(second.wait("/nsm/client/show_optional_gui", stays_away));
  EXPECT_FALSE(nsm.save(2));

  second.reply("/nsm/client/save", "Saved");
  stranger.is_dirty();
  EXPECT_FALSE(nsm.next_reply("/nsm/client/save", stays_away, 0));
  EXPECT_TRUE(nsm.next_reply("/nsm/client/save", arrives, 1));
  const auto dirty = nsm.next("/nsm/client/is_dirty", arrives);
  ASSERT_TRUE(dirty);
  EXPECT_EQ(dirty->client, -1);
  EXPECT_EQ(dirty->from, stranger.address());
  EXPECT_EQ(nsm.clients(), 2);
}

TEST(NsmServer, StoppedServerIsGone) {
  NsmServer nsm;
  OscClient client(nsm);
  client.announce("Bexo", 1);
  ASSERT_TRUE(nsm.wait_for_client(0, arrives));
  ASSERT_TRUE(client.wait("/reply", arrives));

  nsm.stop();
  EXPECT_FALSE(nsm.session_is_loaded(0));
  EXPECT_FALSE(nsm.hide_gui(0));
  client.announce("Bexo", 1);
  EXPECT_FALSE(client.wait("/reply", stays_away));
  EXPECT_EQ(nsm.received("/nsm/server/announce").size(), 1U);
}

} // namespace
