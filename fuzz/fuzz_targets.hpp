#pragma once

// The entry points of the fuzz targets.  Each takes one input of any length
// and returns 0; a fault stops the program (a sanitizer report, or
// fuzz_check when the host is left inconsistent).  libFuzzer's programs
// call one each, the replay test calls all six in one process.

#include <cstddef>
#include <cstdint>

/// Raw bytes in ui_ring, then the audio thread's pass over it.
int fuzz_ui_ring(const uint8_t* data, size_t size);
/// Raw bytes in process_ring, then the main thread's delivery (with the dumper).
int fuzz_process_ring(const uint8_t* data, size_t size);
/// A hostile plugin UI's port writes.
int fuzz_ui_write(const uint8_t* data, size_t size);
/// Patch inspection and the atom dumper on one atom.
int fuzz_atoms(const uint8_t* data, size_t size);
/// An event output as a faulty plugin leaves it, walked after the run.
int fuzz_event_buffer(const uint8_t* data, size_t size);
/// "symbol=value" settings of the -c option.
int fuzz_control_setting(const uint8_t* data, size_t size);

/// Keeps the host's dump output and libFuzzer's own apart: standard output
/// goes to /dev/null.  The fuzzer programs call it once, before any input.
void fuzz_quiet_stdout();
