#pragma once

// What a user can ask for at start-up.  The fields are plain C types because
// bexo-gtk's GLib option table writes straight into them; everything starts
// as zero or none, which is also all bexo-qt ever uses.

#include <cstdint>

struct HostOptions {
  char* jack_name;       ///< JACK client name, owned; none: the plugin's name.
  int exact_jack_name;   ///< Fail instead of taking another name when taken.
  char** controls;       ///< Null-terminated "symbol=value" settings; the array is owned.
  uint32_t ring_size;    ///< Lower bound in bytes for each ring; 0 computes it.
  uint32_t block_length; ///< Initial block length in frames; the backend decides.
  double update_rate;    ///< UI update rate in Hz; 0 or less takes the display's.
  double scale_factor;   ///< UI scale factor; 0 or less takes the display's.
  int dump;              ///< Print plugin/UI traffic as Turtle.
  int trace;             ///< Print plugin traces and the audio thread's ring errors.
  int generic_ui;        ///< Never load the plugin's own UI.
  int show_hidden;       ///< Generic panels also show ports not meant for a GUI.
  int minimal_ui;        ///< bexo-gtk shows no menu bar or header bar.
  int print_controls;    ///< Print control output changes on standard output.
  char* ui_uri;          ///< URI of the plugin UI to load, or none.
};
