#include "base/symbol_map.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

const char* string_at(const SymbolMap* map, uint32_t position) {
  return map->symbols[map->index[position] - 1U].get();
}

// Makes room for one more id in both arrays without giving any out, so that
// the insertion that follows cannot fail halfway.
bool reserve_one_more(SymbolMap* map) {
  const size_t needed = size_t{map->size} + 1U;
  try {
    if (map->symbols.capacity() < needed) {
      map->symbols.reserve(std::max(needed, map->symbols.capacity() * 2U));
    }
    if (map->index.capacity() < needed) {
      map->index.reserve(std::max(needed, map->index.capacity() * 2U));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

} // namespace

SymbolMap* symbol_map_new() {
  return new (std::nothrow) SymbolMap{};
}

void symbol_map_free(SymbolMap* map) {
  delete map;
}

uint32_t symbol_map_search(const SymbolMap* map, const char* str, bool* exact) {
  *exact = false;
  if (map->size == 0) {
    return 0;
  }
  if (std::strcmp(string_at(map, map->size - 1U), str) < 0) {
    return map->size;
  }

  uint32_t lo = 0;
  uint32_t hi = map->size - 1U;
  for (;;) {
    const uint32_t mid = lo + (hi - lo) / 2U;
    const int cmp = std::strcmp(string_at(map, mid), str);
    if (cmp == 0) {
      *exact = true;
      return mid;
    }
    if (cmp > 0) {
      if (mid == 0) {
        return 0;
      }
      hi = mid - 1U;
      if (hi < lo) {
        return mid;
      }
    } else {
      lo = mid + 1U;
      if (hi < lo) {
        return lo;
      }
    }
  }
}

uint32_t symbol_map_map(SymbolMap* map, const char* str) {
  bool exact = false;
  const uint32_t position = symbol_map_search(map, str, &exact);
  if (exact) {
    return map->index[position];
  }

  const size_t length = std::strlen(str);
  std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1U]);
  if (!copy || !reserve_one_more(map)) {
    return 0;
  }
  std::memcpy(copy.get(), str, length + 1U);

  const uint32_t id = map->size + 1U;
  map->symbols.push_back(std::move(copy));
  map->index.insert(map->index.begin() + position, id);
  map->size = id;
  return id;
}

const char* symbol_map_unmap(const SymbolMap* map, uint32_t id) {
  if (id == 0 || id > map->size) {
    return nullptr;
  }
  return map->symbols[id - 1U].get();
}
