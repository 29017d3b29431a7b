#include "host/session.hpp"

#include "base/log.hpp"
#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/host_open.hpp"
#include "session/nsm_client.hpp"
#include "state/saved_state.hpp"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <zix/sem.h>

struct Session {
  NsmClient* client;
  bool opened; ///< The server's open came.
  std::string path;
  std::string client_id;
  bool open_answered;
  bool gui_visible;
  bool dirty;             ///< The server was told of unsaved changes.
  uint64_t saved_changes; ///< host->changes when the setup was last saved.
};

namespace {

using Clock = std::chrono::steady_clock;

// A server answers an announce at once; one that does not within this
// time is not there.  Its open follows the reply at once too, so a server
// that sends none has gone away, and waiting longer would only hang.
constexpr auto announce_timeout = std::chrono::seconds(3);
constexpr int open_timeout_seconds = 10;

constexpr char capabilities[] = ":optional-gui:dirty:";

Host* host_of(void* data) {
  return static_cast<Host*>(data);
}

void notify_visibility(Session* session) {
  nsm_client_notify(session->client, session->gui_visible ? nsm_gui_is_shown : nsm_gui_is_hidden);
}

// A saved state at the session's path is what this client was; without
// one it starts new, hidden, and saves there later.
void take_open(Host* host, const char** arg) {
  Session* session = host->session;
  std::free(host->options.jack_name);
  host->options.jack_name = strdup(session->client_id.c_str());
  host->options.exact_jack_name = 1;
  const char* path = session->path.c_str();
  session->gui_visible = false;
  if (saved_state_dir_kind(path) == STATE_DIR_SAVED) {
    *arg = path;
    bool visible = false;
    session->gui_visible =
        saved_state_flag(path, session_gui_visible_uri, &visible) == 0 && visible;
    host_log(&host->log, LOG_LEVEL_INFO, "Session: opening the state saved in %s", path);
  } else {
    host_log(&host->log, LOG_LEVEL_INFO, "Session: new client %s in %s", session->client_id.c_str(),
             path);
  }
}

void on_open(void* data, const char* path, const char*, const char* client_id) {
  Session* session = host_of(data)->session;
  if (session->opened) {
    // Without the switch capability the server starts a new process for
    // another session; an open now cannot be followed.
    nsm_client_error(session->client, nsm_open_path, NSM_ERR_GENERAL,
                     "Bexo cannot switch to another session while it runs");
    return;
  }
  session->opened = true;
  session->path = path;
  session->client_id = client_id;
}

void on_save(void* data) {
  Host* host = host_of(data);
  NsmClient* client = host->session->client;
  if (session_save(host)) {
    const std::string why = "Project could not be saved: " + host_last_error(&host->log);
    nsm_client_error(client, nsm_save_path, NSM_ERR_GENERAL, why.c_str());
  } else {
    nsm_client_reply(client, nsm_save_path, "Saved");
  }
}

void set_visible(Host* host, bool visible) {
  host->frontend->gui_set_visible(host, visible);
  host->session->gui_visible = visible;
  notify_visibility(host->session);
}

void on_show(void* data) {
  set_visible(host_of(data), true);
}

void on_hide(void* data) {
  set_visible(host_of(data), false);
}

// Receives until `done` holds, the time is up, or a signal asks the
// program to end.  Returns 0 when done, 1 when the time was up, or
// HOST_OPEN_QUIT.
template <typename Done>
int wait_for_server(Host* host, Clock::duration limit, Done done) {
  const Clock::time_point end = Clock::now() + limit;
  while (!done()) {
    if (zix_sem_try_wait(&host->quit_sem) == ZIX_STATUS_SUCCESS) {
      return HOST_OPEN_QUIT;
    }
    if (Clock::now() >= end) {
      return 1;
    }
    nsm_client_receive(host->session->client, 50);
  }
  return 0;
}

// Announces the program; 0 once the server took it in, 1 when there is
// no server to join, or a HostOpenStatus.
int announce(Host* host, const char* url) {
  NsmClient* client = host->session->client;
  const char* executable = host->executable ? host->executable : "bexo";
  const char* slash = std::strrchr(executable, '/');
  const char* name = slash ? slash + 1 : executable;
  if (nsm_client_announce(client, name, capabilities, executable, static_cast<int>(getpid()))) {
    host_log(&host->log, LOG_LEVEL_INFO, "No session manager at %s (%s); running without one", url,
             nsm_client_message(client));
    return 1;
  }
  const int waited = wait_for_server(host, announce_timeout, [client] {
    return nsm_client_announce_state(client) != NSM_ANNOUNCE_PENDING;
  });
  if (waited) {
    if (waited == 1) {
      host_log(&host->log, LOG_LEVEL_INFO, "No session manager answers at %s; running without one",
               url);
    }
    return waited;
  }
  if (nsm_client_announce_state(client) == NSM_ANNOUNCE_REFUSED) {
    host_log(&host->log, LOG_LEVEL_ERROR, "The session manager refused %s: %s", name,
             nsm_client_message(client));
    return HOST_OPEN_NO_SESSION;
  }
  host_log(&host->log, LOG_LEVEL_INFO, "Session manager: %s", nsm_client_message(client));
  return 0;
}

} // namespace

int join_session(Host* host, const char** arg) {
  const char* url = std::getenv("NSM_URL");
  if (!url || !*url) {
    return 0;
  }
  const NsmHandlers handlers{host, on_open, on_save, on_show, on_hide, nullptr};
  NsmClient* client = nsm_client_new(url, &handlers);
  if (!client) {
    host_log(&host->log, LOG_LEVEL_INFO,
             "NSM_URL \"%s\" names no session manager; running without one", url);
    return 0;
  }
  host->session = new Session{client, false, {}, {}, false, false, false, 0};
  int status = announce(host, url);
  if (status == 0) {
    status = wait_for_server(host, std::chrono::seconds(open_timeout_seconds),
                             [host] { return host->session->opened; });
    if (status == 1) {
      host_log(&host->log, LOG_LEVEL_ERROR, "The session manager sent no open within %d seconds",
               open_timeout_seconds);
      status = HOST_OPEN_NO_SESSION;
    }
  }
  if (status == 1) {
    leave_session(host); // a normal run
    return 0;
  }
  if (status == 0) {
    take_open(host, arg);
  }
  return status;
}

bool in_session(const Host* host) {
  return host->session && host->session->opened;
}

void answer_session_open(Host* host, int status) {
  Session* session = host->session;
  if (!in_session(host) || session->open_answered) {
    return;
  }
  session->open_answered = true;
  if (status == 0) {
    std::string message = "Opened ";
    message += host->plugin_name ? lilv_node_as_string(host->plugin_name) : "the plugin";
    nsm_client_reply(session->client, nsm_open_path, message.c_str());
    session->saved_changes = host->changes;
    notify_visibility(session);
    return;
  }
  std::string why = host_last_error(&host->log);
  if (why.empty()) {
    why = "The plugin could not be opened";
  }
  const int code = status == HOST_OPEN_NO_PLUGIN ? NSM_ERR_BAD_PROJECT : NSM_ERR_LAUNCH_FAILED;
  nsm_client_error(session->client, nsm_open_path, code, why.c_str());
}

bool session_gui_visible(const Host* host) {
  return !in_session(host) || host->session->gui_visible;
}

void session_gui_changed(Host* host, bool visible) {
  if (in_session(host) && host->session->gui_visible != visible) {
    host->session->gui_visible = visible;
    notify_visibility(host->session);
  }
}

int session_save(Host* host) {
  if (!in_session(host)) {
    return 1;
  }
  Session* session = host->session;
  const SavedStateFlag flags[] = {{session_gui_visible_uri, session->gui_visible}};
  if (save_state(host, session->path.c_str(), flags)) {
    return 1;
  }
  session->saved_changes = host->changes;
  session->dirty = false;
  nsm_client_notify(session->client, nsm_is_clean);
  return 0;
}

void session_update(Host* host) {
  if (!in_session(host)) {
    return;
  }
  Session* session = host->session;
  nsm_client_receive(session->client, 0);
  if (!session->dirty && session->open_answered && host->changes != session->saved_changes) {
    session->dirty = true;
    nsm_client_notify(session->client, nsm_is_dirty);
  }
}

void leave_session(Host* host) {
  if (host->session) {
    nsm_client_free(host->session->client);
    delete host->session;
    host->session = nullptr;
  }
}
