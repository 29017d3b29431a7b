#pragma once

// The host's URID map: one SymbolMap behind a lock, offered to plugins, UIs
// and libraries as the LV2 urid:map and urid:unmap features.  Those may be
// called from any thread, so every call through them takes the lock.

#include "base/symbol_map.hpp"

#include <lv2/urid/urid.h>
#include <zix/sem.h>

struct UridMapper {
  SymbolMap symbol_map;
  ZixSem lock;          ///< A semaphore of value 1, used as a mutex.
  LV2_URID_Map map;     ///< Data of the urid:map feature; calls locked_map().
  LV2_URID_Unmap unmap; ///< Data of the urid:unmap feature; calls locked_unmap().
};

/// Return a new mapper, or null when it cannot be made.
UridMapper* urid_mapper_new();

/// Free a mapper and every string it mapped.  Null is allowed.
void urid_mapper_free(UridMapper* mapper);

/// Return the urid:map feature data of a mapper, or null for null.
LV2_URID_Map* urid_mapper_get_map(UridMapper* mapper);

/// Return the urid:unmap feature data of a mapper, or null for null.
LV2_URID_Unmap* urid_mapper_get_unmap(UridMapper* mapper);

/// Map without taking the lock.  Only for the main thread while nothing else
/// can map: before the plugin, its UI and the worker run.
LV2_URID urid_mapper_map_uri(UridMapper* mapper, const char* uri);

/// Unmap without taking the lock; null for null or an unknown id.  Safe
/// wherever no other thread can be mapping a new URI at the same time.
const char* urid_mapper_unmap_urid(UridMapper* mapper, LV2_URID urid);

/// The urid:map function.  Blocks while another thread maps or unmaps.
LV2_URID locked_map(LV2_URID_Map_Handle handle, const char* uri);

/// The urid:unmap function.  The string stays valid after the lock is
/// released: mapped strings are never moved or freed before the map itself.
const char* locked_unmap(LV2_URID_Unmap_Handle handle, LV2_URID urid);
