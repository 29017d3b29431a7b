#pragma once

// A table that gives every distinct string a small id, dense from 1 upwards,
// and finds the string of an id again.  It backs the host's URID map.

#include <cstdint>
#include <memory>
#include <vector>

struct SymbolMap {
  /// The string of id k is at position k - 1.  Each string is its own block,
  /// so pointers handed out by symbol_map_unmap() stay valid until the map is
  /// freed, however much the array grows.
  std::vector<std::unique_ptr<char[]>> symbols;

  /// Ids ordered by the byte order (strcmp) of their strings.
  std::vector<uint32_t> index;

  /// The number of ids given out; both arrays hold exactly this many entries.
  uint32_t size = 0;
};

/// Return a new empty map, or null when it cannot be allocated.
SymbolMap* symbol_map_new();

/// Free a map with all its strings.  Null is allowed.
void symbol_map_free(SymbolMap* map);

/// Return the position in `index` where `str` is, or where it belongs: the
/// position of the first entry greater than `str`.  `exact` tells which.
uint32_t symbol_map_search(const SymbolMap* map, const char* str, bool* exact);

/// Return the id of `str`, giving it the next id if it is new.  Returns 0,
/// which is never an id, when memory runs out; the map is then unchanged.
uint32_t symbol_map_map(SymbolMap* map, const char* str);

/// Return the string of `id` (owned by the map), or null for an unknown id.
const char* symbol_map_unmap(const SymbolMap* map, uint32_t id);
