#include "state/atom_dumper.hpp"

#include "base/log.hpp"

#include <cstdlib>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>

namespace {

constexpr const char* xsd_namespace = "http://www.w3.org/2001/XMLSchema#";

} // namespace

AtomDumper* atom_dumper_new(LV2_URID_Map* map, LV2_URID_Unmap* unmap) {
  auto* dumper = static_cast<AtomDumper*>(std::calloc(1, sizeof(AtomDumper)));
  SerdEnv* env = serd_env_new(nullptr);
  Sratom* sratom = sratom_new(map);
  if (!dumper || !env || !sratom) {
    sratom_free(sratom);
    if (env) {
      serd_env_free(env);
    }
    std::free(dumper);
    return nullptr;
  }

  const auto prefix = [env](const char* name, const char* uri) {
    serd_env_set_prefix_from_strings(env, reinterpret_cast<const uint8_t*>(name),
                                     reinterpret_cast<const uint8_t*>(uri));
  };
  prefix("patch", LV2_PATCH_PREFIX);
  prefix("time", LV2_TIME_PREFIX);
  prefix("xsd", xsd_namespace);
  sratom_set_env(sratom, env);

  dumper->unmap = unmap;
  dumper->env = env;
  dumper->sratom = sratom;
  return dumper;
}

void atom_dumper_free(AtomDumper* dumper) {
  if (!dumper) {
    return;
  }
  sratom_free(dumper->sratom);
  serd_env_free(dumper->env);
  std::free(dumper);
}

void atom_dumper_dump(const AtomDumper* dumper, FILE* stream, const char* heading,
                      const LV2_Atom* atom, int color) {
  if (!dumper) {
    return;
  }
  char* text = sratom_to_turtle(dumper->sratom, dumper->unmap, "bexo:", nullptr, nullptr,
                                atom->type, atom->size, atom + 1);
  color_begin(stream, color);
  std::fprintf(stream, "\n# %s (%u bytes):\n%s\n", heading, atom->size, text ? text : "");
  color_end(stream);
  std::free(text);
}
