#pragma once

// The numbers that plugin, backend and UI share.  The plugin's options point
// into this record, so later changes by the backend are seen there.

#include <cstddef>
#include <cstdint>

struct HostSettings {
  float sample_rate;         ///< Hz
  uint32_t min_block_length; ///< Frames
  uint32_t max_block_length; ///< Frames; the block length that is reported
  size_t midi_buf_size;      ///< Bytes of one MIDI or event buffer
  uint32_t ring_size;        ///< Bytes of each communication ring
  float ui_rate_hz;          ///< Rate of the periodic UI update, 1 to 60
  float ui_scale;            ///< UI scale factor
};
