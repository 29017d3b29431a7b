#pragma once

// The JACK process callback: the JACK transport, audio buffers and MIDI
// around the engine's cycle.  While paused it only writes silence and
// reads ui_ring.

#include "engine/realtime.hpp"

#include <jack/jack.h>

/// One JACK cycle; `data` is the Backend.  Always returns 0.
BEXO_REALTIME int process_callback(jack_nframes_t nframes, void* data);
