#pragma once

// Bexo as a client of a session manager (NSM_URL in the environment): it
// announces itself, lets the server's open decide what runs and under
// which JACK name, saves the whole setup into the session when asked, and
// shows or hides its window on the server's word.  Without a session
// manager every operation here does nothing.  Main thread only; the audio
// thread never sees any of it.

#include <lilv/lilv.h>

struct Host;

/// The property under which a saved state keeps whether the window was
/// shown, for the next start of the session.
inline constexpr char session_gui_visible_uri[] = "urn:bexo:host:gui-visible";

/// When NSM_URL names a session manager that answers: announce the
/// program and wait for the server's open.  Its client id becomes the
/// JACK client name, exactly; a state saved at its path replaces `*arg`.
/// Returns 0, also when there is no session manager to join (an info
/// message says why, unless NSM_URL is unset); HOST_OPEN_NO_SESSION after
/// logging why the server refused or sent no open in time; or
/// HOST_OPEN_QUIT when a signal asked the program to end while it waited.
int join_session(Host* host, const char** arg);

/// Whether the program runs in a session.
bool in_session(const Host* host);

/// Answer the server's open: done when `status` is 0, else failed with
/// the last error logged; then tell it whether the window shows.
void answer_session_open(Host* host, int status);

/// Whether the window is to be shown when the plugin runs: true without
/// a session; in one, as the saved state says, and hidden for a new client.
bool session_gui_visible(const Host* host);

/// The front end showed or hid its window on the user's word (closing
/// it hides it in a session); the server is told.
void session_gui_changed(Host* host, bool visible);

/// Save the whole setup into the session's path, with no question asked,
/// and tell the server that nothing is left unsaved.  Returns 0, or 1
/// after logging why (nothing is saved without a session).
int session_save(Host* host);

/// The periodic update's part: handle the server's requests, and tell it
/// when the setup changed since it was last saved.
void session_update(Host* host);

/// Leave the session and free what joining made.
void leave_session(Host* host);
