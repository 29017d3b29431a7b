// What a layer may use compiles: the probes fail for the layering alone.
#include "base/urids.hpp"
#include "engine/process.hpp"

int engine_probe_compiles(const ProcessState* state) {
  return state->urids ? 1 : 0;
}
