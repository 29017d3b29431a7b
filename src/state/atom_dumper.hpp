#pragma once

// Prints the atoms that pass between plugin UI and plugin as Turtle, for a
// developer to watch.  Made only with the dump option; main thread only.

#include <cstdio>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>
#include <serd/serd.h>
#include <sratom/sratom.h>

struct AtomDumper {
  LV2_URID_Unmap* unmap; ///< Not owned.
  SerdEnv* env;          ///< The prefixes used to abbreviate URIs.
  Sratom* sratom;
};

/// A new dumper, or null when any part of it cannot be made.
AtomDumper* atom_dumper_new(LV2_URID_Map* map, LV2_URID_Unmap* unmap);

/// Free a dumper; null is allowed.
void atom_dumper_free(AtomDumper* dumper);

/// Print `atom` (header and body) as Turtle under a heading line, coloured
/// with `color` when `stream` is a terminal.  A null dumper prints nothing.
void atom_dumper_dump(const AtomDumper* dumper, FILE* stream, const char* heading,
                      const LV2_Atom* atom, int color);
