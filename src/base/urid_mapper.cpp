#include "base/urid_mapper.hpp"

#include <new>

UridMapper* urid_mapper_new() {
  auto* mapper = new (std::nothrow) UridMapper{};
  if (!mapper) {
    return nullptr;
  }
  mapper->map = {mapper, locked_map};
  mapper->unmap = {mapper, locked_unmap};
  if (zix_sem_init(&mapper->lock, 1)) {
    delete mapper;
    return nullptr;
  }
  return mapper;
}

void urid_mapper_free(UridMapper* mapper) {
  if (mapper) {
    zix_sem_destroy(&mapper->lock);
    delete mapper;
  }
}

LV2_URID_Map* urid_mapper_get_map(UridMapper* mapper) {
  return mapper ? &mapper->map : nullptr;
}

LV2_URID_Unmap* urid_mapper_get_unmap(UridMapper* mapper) {
  return mapper ? &mapper->unmap : nullptr;
}

LV2_URID urid_mapper_map_uri(UridMapper* mapper, const char* uri) {
  return symbol_map_map(&mapper->symbol_map, uri);
}

const char* urid_mapper_unmap_urid(UridMapper* mapper, LV2_URID urid) {
  return mapper ? symbol_map_unmap(&mapper->symbol_map, urid) : nullptr;
}

LV2_URID locked_map(LV2_URID_Map_Handle handle, const char* uri) {
  auto* mapper = static_cast<UridMapper*>(handle);
  zix_sem_wait(&mapper->lock);
  const LV2_URID id = symbol_map_map(&mapper->symbol_map, uri);
  zix_sem_post(&mapper->lock);
  return id;
}

const char* locked_unmap(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
  auto* mapper = static_cast<UridMapper*>(handle);
  zix_sem_wait(&mapper->lock);
  const char* uri = symbol_map_unmap(&mapper->symbol_map, urid);
  zix_sem_post(&mapper->lock);
  return uri;
}
