#include "state/atom_dumper.hpp"

#include "base/log.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>

namespace {

constexpr const char* xsd_namespace = "http://www.w3.org/2001/XMLSchema#";

// sratom trusts every size and URID inside an atom: a nested size that
// runs past its container, a string without its NUL, a vector of
// zero-sized children or a URID that maps to nothing makes it read past the
// atom, loop or allocate without bound.  The atoms dumped come from the
// plugin and its UI, so each is checked whole before sratom sees it.
struct AtomTypes {
  LV2_URID object, blank, resource, tuple, vector, sequence, literal;
  LV2_URID string, path, uri, urid, int32, float32, boolean, int64, float64, event;
};

// The dumper and the types its check needs, in one block; the dumper is
// first, so the block is freed through it.
struct DumperRecord {
  AtomDumper dumper;
  AtomTypes types;
};

constexpr uint32_t max_depth = 32;

AtomTypes map_types(LV2_URID_Map* map) {
  const auto m = [map](const char* uri) { return map->map(map->handle, uri); };
  return {m(LV2_ATOM__Object), m(LV2_ATOM__Blank),    m(LV2_ATOM__Resource), m(LV2_ATOM__Tuple),
          m(LV2_ATOM__Vector), m(LV2_ATOM__Sequence), m(LV2_ATOM__Literal),  m(LV2_ATOM__String),
          m(LV2_ATOM__Path),   m(LV2_ATOM__URI),      m(LV2_ATOM__URID),     m(LV2_ATOM__Int),
          m(LV2_ATOM__Float),  m(LV2_ATOM__Bool),     m(LV2_ATOM__Long),     m(LV2_ATOM__Double),
          m(LV2_ATOM__Event)};
}

struct Checker {
  const AtomTypes& types;
  LV2_URID_Unmap* unmap;

  // serd writes a URI without a scheme relative to the base, and reads past
  // the end of one that does not parse as a relative reference either.
  static bool absolute(const char* uri) {
    const auto* text = reinterpret_cast<const uint8_t*>(uri);
    return uri && serd_uri_string_has_scheme(text) && whole_utf8(text, text + std::strlen(uri));
  }

  // Anything may be mapped, so what a URID stands for is checked too.
  bool mapped(LV2_URID urid) const { return urid && absolute(unmap->unmap(unmap->handle, urid)); }

  static uint32_t u32_at(const uint8_t* bytes) {
    uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
  }

  // serd writes an integer through its absolute value, which the smallest
  // one has none of: it frees a pointer it never allocated.
  static bool writable_integer(const uint8_t* bytes) {
    int64_t value = 0;
    std::memcpy(&value, bytes, sizeof(value));
    return value != INT64_MIN;
  }

  // Atoms one after another, each padded to 8 bytes, filling `size` bytes;
  // `prefix` bytes lead each: a property's key (`keyed`) and context, or an
  // event's time.
  bool series(const uint8_t* body, uint32_t size, uint32_t prefix, bool keyed,
              uint32_t depth) const {
    for (uint64_t offset = 0; offset < size;) {
      const uint64_t left = size - offset;
      if (left < prefix + sizeof(LV2_Atom)) {
        return false;
      }
      const uint8_t* atom = body + offset + prefix;
      const uint32_t atom_size = u32_at(atom);
      // The prefix is a key, or an event's time.
      if ((keyed ? !mapped(u32_at(body + offset)) : prefix && !writable_integer(body + offset)) ||
          atom_size > left - prefix - sizeof(LV2_Atom) ||
          !sound(u32_at(atom + 4), atom_size, atom + sizeof(LV2_Atom), depth + 1)) {
        return false;
      }
      offset += (uint64_t{prefix} + sizeof(LV2_Atom) + atom_size + 7U) & ~uint64_t{7};
    }
    return true;
  }

  bool object(const uint8_t* body, uint32_t size, bool resource, uint32_t depth) const {
    if (size < sizeof(LV2_Atom_Object_Body)) {
      return false;
    }
    const uint32_t id = u32_at(body);
    const uint32_t otype = u32_at(body + 4);
    if (((id || resource) && !mapped(id)) || (otype && !mapped(otype))) {
      return false;
    }
    return series(body + sizeof(LV2_Atom_Object_Body),
                  size - static_cast<uint32_t>(sizeof(LV2_Atom_Object_Body)), 8, true, depth);
  }

  bool vector(const uint8_t* body, uint32_t size, uint32_t depth) const {
    if (size < sizeof(LV2_Atom_Vector_Body)) {
      return false;
    }
    const uint32_t child_size = u32_at(body);
    const uint32_t child_type = u32_at(body + 4);
    const uint32_t length = size - static_cast<uint32_t>(sizeof(LV2_Atom_Vector_Body));
    if (!child_size || length % child_size) {
      return false;
    }
    for (uint32_t offset = 0; offset < length; offset += child_size) {
      if (!sound(child_type, child_size, body + sizeof(LV2_Atom_Vector_Body) + offset, depth + 1)) {
        return false;
      }
    }
    return true;
  }

  // A text up to its NUL, which must lie inside `size`, of whole UTF-8
  // sequences: serd takes a lead byte's length on trust and would read on
  // past the NUL.
  static bool terminated(const uint8_t* text, uint32_t size) {
    const auto* end = static_cast<const uint8_t*>(std::memchr(text, 0, size));
    return end && whole_utf8(text, end);
  }

  static bool whole_utf8(const uint8_t* text, const uint8_t* end) {
    while (text < end) {
      const uint8_t lead = *text++;
      const int continuations = lead < 0x80       ? 0
                                : lead >> 5 == 6  ? 1
                                : lead >> 4 == 14 ? 2
                                : lead >> 3 == 30 ? 3
                                                  : -1;
      if (continuations < 0 || end - text < continuations) {
        return false;
      }
      for (int i = 0; i < continuations; ++i) {
        if (*text++ >> 6 != 2) {
          return false;
        }
      }
    }
    return true;
  }

  bool sound(LV2_URID type, uint32_t size, const uint8_t* body, uint32_t depth) const {
    const AtomTypes& t = types;
    if (depth > max_depth) {
      return false;
    }
    if (!type) { // nil; serd loops on two of them in one list
      return size == 0 && depth == 0;
    }
    if (!mapped(type)) {
      return false;
    }
    if (type == t.object || type == t.blank || type == t.resource) {
      return object(body, size, type == t.resource, depth);
    }
    if (type == t.tuple) {
      return series(body, size, 0, false, depth);
    }
    if (type == t.sequence) {
      return size >= sizeof(LV2_Atom_Sequence_Body) &&
             series(body + sizeof(LV2_Atom_Sequence_Body),
                    size - static_cast<uint32_t>(sizeof(LV2_Atom_Sequence_Body)), 8, false, depth);
    }
    if (type == t.vector) {
      return vector(body, size, depth);
    }
    if (type == t.event) { // a time, then one atom
      const uint32_t event_size = size >= sizeof(LV2_Atom_Event) ? u32_at(body + 8) : 0;
      return size >= sizeof(LV2_Atom_Event) && event_size <= size - sizeof(LV2_Atom_Event) &&
             writable_integer(body) &&
             sound(u32_at(body + 12), event_size, body + sizeof(LV2_Atom_Event), depth + 1);
    }
    if (type == t.literal) {
      const uint32_t head = sizeof(LV2_Atom_Literal_Body);
      const uint32_t datatype = size >= head ? u32_at(body) : 0;
      const uint32_t lang = size >= head ? u32_at(body + 4) : 0;
      return size > head && terminated(body + head, size - head) &&
             (!datatype || mapped(datatype)) && (!lang || mapped(lang));
    }
    if (type == t.string || type == t.path) {
      return terminated(body, size);
    }
    if (type == t.uri) {
      return terminated(body, size) && absolute(reinterpret_cast<const char*>(body));
    }
    if (type == t.urid) {
      return size >= sizeof(uint32_t) && mapped(u32_at(body));
    }
    if (type == t.int32 || type == t.float32 || type == t.boolean) {
      return size >= sizeof(int32_t);
    }
    if (type == t.int64) {
      return size >= sizeof(int64_t) && writable_integer(body);
    }
    if (type == t.float64) {
      return size >= sizeof(double);
    }
    // Anything else is written as base64, which serd cannot do for no bytes.
    return size > 0;
  }
};

} // namespace

AtomDumper* atom_dumper_new(LV2_URID_Map* map, LV2_URID_Unmap* unmap) {
  auto* record = static_cast<DumperRecord*>(std::calloc(1, sizeof(DumperRecord)));
  auto* dumper = record ? &record->dumper : nullptr;
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
  record->types = map_types(map);
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
  const Checker checker{reinterpret_cast<const DumperRecord*>(dumper)->types, dumper->unmap};
  const bool sound =
      checker.sound(atom->type, atom->size, reinterpret_cast<const uint8_t*>(atom + 1), 0);
  char* text = sound ? sratom_to_turtle(dumper->sratom, dumper->unmap, "bexo:", nullptr, nullptr,
                                        atom->type, atom->size, atom + 1)
                     : nullptr;
  color_begin(stream, color);
  std::fprintf(stream, "\n# %s (%u bytes):\n%s\n", heading, atom->size,
               text    ? text
               : sound ? ""
                       : "# malformed atom, not shown");
  color_end(stream);
  std::free(text);
}
