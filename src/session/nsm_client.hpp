#pragma once

// The client side of a session manager's protocol (NSM API 1.1, OSC over
// UDP through liblo): announcing the program, taking the server's
// requests, and answering them.  It knows nothing of the host: what a
// request means is up to the handlers.  Main thread only; nothing here
// blocks longer than the wait a caller asks for.

#include <cstdint>

struct NsmClient;

/// The messages the server sends and the client answers.
inline constexpr char nsm_announce_path[] = "/nsm/server/announce";
inline constexpr char nsm_open_path[] = "/nsm/client/open";
inline constexpr char nsm_save_path[] = "/nsm/client/save";

/// The messages the client sends on its own, without arguments.
inline constexpr char nsm_gui_is_shown[] = "/nsm/client/gui_is_shown";
inline constexpr char nsm_gui_is_hidden[] = "/nsm/client/gui_is_hidden";
inline constexpr char nsm_is_dirty[] = "/nsm/client/is_dirty";
inline constexpr char nsm_is_clean[] = "/nsm/client/is_clean";

/// The protocol's error codes that this client answers with.
enum NsmError : int {
  NSM_ERR_GENERAL = -1,
  NSM_ERR_LAUNCH_FAILED = -4,
  NSM_ERR_BAD_PROJECT = -9,
};

/// How far the announce has got.
enum NsmAnnounceState : int {
  NSM_ANNOUNCE_NOT_SENT = 0,
  NSM_ANNOUNCE_PENDING = 1,  ///< Sent; the server has not answered yet.
  NSM_ANNOUNCE_ACCEPTED = 2, ///< The server replied: the client is in the session.
  NSM_ANNOUNCE_REFUSED = 3,  ///< The server answered with an error.
};

/// What to do with each request of the server.  Every function may be
/// null (the request is then ignored); the strings live only during the
/// call.  They are called from nsm_client_receive alone.
struct NsmHandlers {
  void* data;
  void (*open)(void* data, const char* path, const char* display_name, const char* client_id);
  void (*save)(void* data);
  void (*show_gui)(void* data);
  void (*hide_gui)(void* data);
  void (*session_loaded)(void* data);
};

/// A client of the server at `url` (an OSC URL such as
/// "osc.udp://host:port/"), listening on a port of its own; `handlers` is
/// copied.  Null when `url` is no OSC URL over UDP or no port could be had.
NsmClient* nsm_client_new(const char* url, const NsmHandlers* handlers);

/// Close the client's port and free it; null is ignored.
void nsm_client_free(NsmClient* client);

/// Announce the program: its name, its capabilities (":optional-gui:..:"),
/// the executable as launched and its pid, with API version 1.1.  Returns
/// 0, or -1 when the message could not be sent (see nsm_client_failure).
int nsm_client_announce(NsmClient* client, const char* application_name, const char* capabilities,
                        const char* executable, int pid);

/// The state of the announce.
NsmAnnounceState nsm_client_announce_state(const NsmClient* client);

/// Why the last send failed, or what the server said when it refused or
/// accepted the announce; "" when there is nothing to tell.
const char* nsm_client_message(const NsmClient* client);

/// Handle the messages that have arrived, waiting at most `timeout_ms`
/// for the first (0: no wait).  Returns how many were handled.
int nsm_client_receive(NsmClient* client, int timeout_ms);

/// Answer the request `to_path` as done, with a message for the user.
/// Returns 0, or -1 when the answer could not be sent.
int nsm_client_reply(NsmClient* client, const char* to_path, const char* message);

/// Answer the request `to_path` as failed, with an NsmError and a
/// message that says what failed.  Returns 0 or -1 as nsm_client_reply.
int nsm_client_error(NsmClient* client, const char* to_path, int code, const char* message);

/// Send one of the argument-less messages above (nsm_gui_is_shown...).
/// Returns 0 or -1 as nsm_client_reply.
int nsm_client_notify(NsmClient* client, const char* path);
