#pragma once

// The whole state of the running plugin saved into a directory of the
// user's, and found there again: its control values, its own state through
// state:interface and every file it refers to, as a state bundle
// ("manifest.ttl" and "state.ttl") that lilv reads back.  Main thread only.

#include <span>
#include <string>

struct StateHost;

/// What a directory holds, as far as saving a state into it goes.
enum SavedStateDir : int {
  STATE_DIR_NONE = 0,      ///< Nothing there, or an empty directory.
  STATE_DIR_SAVED = 1,     ///< A state saved before, which a save replaces.
  STATE_DIR_OTHER = 2,     ///< A directory with other things in it.
  STATE_DIR_NOT_A_DIR = 3, ///< A file, or something else that is no directory.
};

/// What `dir` holds.
SavedStateDir saved_state_dir_kind(const char* dir);

/// The state file of the state saved in `dir`, or "" when it holds none.
std::string saved_state_file(const char* dir);

/// A fact of the host's own saved with the state, as a boolean property
/// of it that lilv leaves alone when it reads the state.
struct SavedStateFlag {
  const char* uri; ///< The property.
  bool value;
};

/// Save the plugin's whole state into `dir`, which is made when missing,
/// with the host's `flags` beside it.
/// The state is written beside `dir` first and read back; only then does it
/// replace a state saved there before (in one atomic exchange), or join the
/// other files of a directory that holds some (never replacing one of
/// them).  Returns 0, or 1 after logging why as an error; what `dir` held
/// is then as it was.
int save_state(StateHost* host, const char* dir, std::span<const SavedStateFlag> flags = {});

/// The flag `uri` of the state saved in `dir`.  Returns 0 and sets
/// `*value`, or 1 when there is no such state or it has no such flag.
int saved_state_flag(const char* dir, const char* uri, bool* value);
