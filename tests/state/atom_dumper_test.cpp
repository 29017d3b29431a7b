#include "base/urid_mapper.hpp"
#include "state/atom_dumper.hpp"

#include <cstdio>
#include <gtest/gtest.h>
#include <lv2/atom/forge.h>
#include <lv2/patch/patch.h>
#include <string>

namespace {

std::string dump_to_file(const AtomDumper* dumper, const char* heading, const LV2_Atom* atom) {
  FILE* file = std::tmpfile();
  atom_dumper_dump(dumper, file, heading, atom, 36);
  std::string text(static_cast<size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  return text;
}

TEST(AtomDumper, PrintsAPatchSetAsTurtleUnderItsHeading) {
  UridMapper* mapper = urid_mapper_new();
  LV2_URID_Map* map = urid_mapper_get_map(mapper);
  AtomDumper* dumper = atom_dumper_new(map, urid_mapper_get_unmap(mapper));
  ASSERT_NE(dumper, nullptr);

  LV2_Atom_Forge forge;
  lv2_atom_forge_init(&forge, map);
  alignas(8) uint8_t buffer[256];
  lv2_atom_forge_set_buffer(&forge, buffer, sizeof(buffer));
  LV2_Atom_Forge_Frame frame;
  auto* set = reinterpret_cast<LV2_Atom*>(
      lv2_atom_forge_object(&forge, &frame, 0, map->map(map->handle, LV2_PATCH__Set)));
  lv2_atom_forge_key(&forge, map->map(map->handle, LV2_PATCH__property));
  lv2_atom_forge_urid(&forge, map->map(map->handle, "urn:bexo:test:params#float"));
  lv2_atom_forge_key(&forge, map->map(map->handle, LV2_PATCH__value));
  lv2_atom_forge_float(&forge, 0.5f);
  lv2_atom_forge_pop(&forge, &frame);

  // Redirected to a file: no colour sequences.
  const std::string text = dump_to_file(dumper, "UI => Plugin", set);
  const std::string heading = "\n# UI => Plugin (" + std::to_string(set->size) + " bytes):\n";
  ASSERT_EQ(text.substr(0, heading.size()), heading) << text;
  EXPECT_NE(text.find("patch:Set"), std::string::npos) << text;
  EXPECT_NE(text.find("patch:property <urn:bexo:test:params#float>"), std::string::npos) << text;
  EXPECT_NE(text.find("patch:value"), std::string::npos) << text;
  EXPECT_EQ(text.find('\033'), std::string::npos);
  EXPECT_EQ(text.back(), '\n');

  // Without the dump option there is no dumper, and nothing is printed.
  EXPECT_EQ(dump_to_file(nullptr, "UI => Plugin", set), "");
  atom_dumper_free(dumper);
  atom_dumper_free(nullptr);
  urid_mapper_free(mapper);
}

} // namespace
