#pragma once

// A session manager of the tests' own, for the tests of the programs under
// NSM.  Debian packages no session manager server, so this one plays the
// server side of the protocol just far enough for a test to drive a client
// the way a session does: it welcomes announces, tells clients to open,
// save, show and hide, and keeps everything the clients said so the test can
// wait for it and look at it.
//
// Clients are told apart by the address they send from, as a real server
// tells them apart: a program that announces twice from one socket is one
// client, two sockets are two clients.

#include <chrono>
#include <condition_variable>
#include <lo/lo_types.h>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

/// One message a client sent.  The arguments are kept by kind, each in the
/// order it came; `types` tells how they were interleaved.
struct NsmMessage {
  std::string path;
  std::string types;
  std::vector<std::string> strings;
  std::vector<int> ints;
  std::vector<float> floats;
  int client = -1;  ///< Index of the announced client it came from; -1 if none.
  std::string from; ///< The sender's "host:port".
};

/// What a client said about itself in /nsm/server/announce.
struct NsmAnnounce {
  std::string application_name;
  std::string capabilities;
  std::string executable_name;
  int api_major = 0;
  int api_minor = 0;
  int pid = 0;
};

/// How the server answers the announces that reach it from now on.
enum class AnnounceAnswer {
  welcome, ///< /reply "/nsm/server/announce" with the server's name.
  error,   ///< /error "/nsm/server/announce" with the code and message given.
  silence, ///< Nothing at all, as a server that hangs.
};

class NsmServer {
public:
  // What the welcome says.
  static constexpr const char* server_name = "bexo-test-nsm";
  static constexpr const char* server_capabilities = ":server-control:";
  static constexpr const char* welcome_message = "Welcome";

  /// Starts listening on a free UDP port, on a thread of its own.  liblo
  /// 0.31 can only bind every interface, so the socket does; url() names
  /// the loopback address, which is what clients are given.
  NsmServer();
  ~NsmServer();
  NsmServer(const NsmServer&) = delete;
  NsmServer& operator=(const NsmServer&) = delete;

  /// "osc.udp://127.0.0.1:PORT/", the value for a client's NSM_URL.
  std::string url() const;
  /// Whether the socket could be opened at all.
  bool ok() const { return thread != nullptr; }

  /// Closes the socket and ends the thread: to a client the server is gone.
  /// What was received stays readable.
  void stop();

  /// Announces after this call get `answer`; `code` and `message` are those
  /// of the /error.
  void answer_announce(AnnounceAnswer answer, int code = -1,
                       const std::string& message = "Not welcome");

  // Telling client `index` something.  Each is false when there is no such
  // client, the server was stopped, or the message could not be sent.
  bool open(int index, const std::string& path, const std::string& display_name,
            const std::string& client_id);
  bool save(int index);
  bool show_gui(int index);
  bool hide_gui(int index);
  bool session_is_loaded(int index);

  /// The first message with `path` not yet taken by next() or next_reply(),
  /// from client `client` when it is not -1, waiting up to `limit` for it.
  /// The message is taken.
  std::optional<NsmMessage> next(const std::string& path, std::chrono::milliseconds limit,
                                 int client = -1);
  /// As next(), for the /reply or /error that answers `to_path` (for
  /// instance "/nsm/client/open"): the one whose first string is `to_path`.
  std::optional<NsmMessage> next_reply(const std::string& to_path, std::chrono::milliseconds limit,
                                       int client = -1);
  /// Every message with `path` received so far, taken or not, in order.
  std::vector<NsmMessage> received(const std::string& path, int client = -1) const;

  /// The announce of client `index` (0 for the first to announce), waiting up
  /// to `limit` for it to arrive.
  std::optional<NsmAnnounce> wait_for_client(int index, std::chrono::milliseconds limit);
  /// How many clients have announced.
  int clients() const;

private:
  struct Client {
    std::string host;
    std::string port;
    NsmAnnounce announce;
  };
  struct Entry {
    NsmMessage message;
    bool taken = false;
  };

  static int on_message(const char* path, const char* types, lo_arg** argv, int argc,
                        lo_message message, void* self);
  void receive(const char* path, const char* types, lo_arg** argv, int argc, lo_message message);
  int register_announce(const std::string& from, const std::string& host, const std::string& port,
                        const NsmMessage& message);
  void answer(const std::string& host, const std::string& port);
  bool send(int index, const char* path, lo_message message);
  bool send_plain(int index, const char* path);

  template <typename Match>
  std::optional<NsmMessage> take(Match match, std::chrono::milliseconds limit);

  lo_server_thread thread = nullptr;
  int port = 0;

  mutable std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Entry> log;
  std::vector<Client> known;
  std::map<std::string, int> index_of; ///< "host:port" to client index.
  AnnounceAnswer announce_answer = AnnounceAnswer::welcome;
  int error_code = -1;
  std::string error_message;

  std::mutex sending; ///< Tests and the server thread share one socket.
};
