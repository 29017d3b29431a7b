#pragma once

// The JACK process callback: transport to position objects, JACK buffers to
// plugin ports, MIDI both ways, the process cycle, and the plugin's outputs
// to the UI side.  While paused it only writes silence and reads ui_ring.

#include "engine/realtime.hpp"

#include <jack/jack.h>

/// One JACK cycle; `data` is the Backend.  Always returns 0.
BEXO_REALTIME int process_callback(jack_nframes_t nframes, void* data);
