#pragma once

// The Host: the one record a run hangs off.  It lives on the stack of main,
// value-initialised, and owns everything it points to except the lilv
// plugin and UI objects (owned by the world), the backend record (owned by
// main) and the front end's record.  It extends the UiHost (and so the
// StateHost) with what only the top of the core uses: the arguments and
// options, the audio backend, the life-cycle semaphores and the front end.
// Feature structures point into it, so it never moves.

#include "host/audio_backend.hpp"
#include "host/host_options.hpp"
#include "ui/ui_host.hpp"

#include <lilv/lilv.h>
#include <zix/sem.h>

struct Backend;
struct Frontend;
struct Session;

struct Host : UiHost {
  // Front-end arguments.  suil and the front end may remove arguments they
  // recognise; the core itself never reads them.
  int argc;
  char** argv;
  const char* executable; ///< argv[0] as the program was started.

  HostOptions options;

  /// The front end's operations; set before gui_init.
  const Frontend* frontend;
  void* gui_data; ///< The front end's private record, owned by it.

  Backend* backend;   ///< JACK's record; allocated and freed by main.
  AudioBackend audio; ///< The backend the host runs with; none until one is attached.

  ZixSem worker_lock; ///< Value 1: the lock both workers share.
  ZixSem quit_sem;    ///< Posting it asks the run to end; see signals.hpp.

  LilvNode* plugin_name;

  Session* session; ///< The session manager's client, or none (session.hpp).

  /// The plugin has been activated and not yet deactivated.
  bool active;
};
