#include "base/symbol_map.hpp"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct MapDeleter {
  void operator()(SymbolMap* map) const { symbol_map_free(map); }
};
using MapPtr = std::unique_ptr<SymbolMap, MapDeleter>;

MapPtr make_map() {
  MapPtr map(symbol_map_new());
  EXPECT_NE(map, nullptr);
  return map;
}

TEST(SymbolMap, IdsFollowFirstMappingAndIndexFollowsByteOrder) {
  MapPtr map = make_map();
  EXPECT_EQ(map->size, 0u);

  EXPECT_EQ(symbol_map_map(map.get(), "beta"), 1u);
  EXPECT_EQ(symbol_map_map(map.get(), "alpha"), 2u);
  EXPECT_EQ(symbol_map_map(map.get(), "gamma"), 3u);
  EXPECT_EQ(symbol_map_map(map.get(), "beta"), 1u);

  EXPECT_EQ(map->size, 3u);
  EXPECT_EQ(map->index, (std::vector<uint32_t>{2, 1, 3}));
  EXPECT_EQ(map->symbols.size(), 3u);
}

TEST(SymbolMap, UnmapGivesTheStringOrNone) {
  MapPtr map = make_map();
  EXPECT_EQ(symbol_map_unmap(map.get(), 0), nullptr);
  EXPECT_EQ(symbol_map_unmap(map.get(), 1), nullptr);

  ASSERT_EQ(symbol_map_map(map.get(), "urn:a"), 1u);
  ASSERT_EQ(symbol_map_map(map.get(), ""), 2u);
  EXPECT_STREQ(symbol_map_unmap(map.get(), 1), "urn:a");
  EXPECT_STREQ(symbol_map_unmap(map.get(), 2), "");
  EXPECT_EQ(symbol_map_unmap(map.get(), 0), nullptr);
  EXPECT_EQ(symbol_map_unmap(map.get(), 3), nullptr);
  EXPECT_EQ(symbol_map_map(map.get(), ""), 2u);
}

TEST(SymbolMap, SearchFindsTheEntryOrWhereItBelongs) {
  MapPtr map = make_map();
  bool exact = true;
  EXPECT_EQ(symbol_map_search(map.get(), "x", &exact), 0u);
  EXPECT_FALSE(exact);

  for (const char* s : {"d", "b", "f"}) {
    symbol_map_map(map.get(), s);
  }
  struct Case {
    const char* str;
    uint32_t position;
    bool exact;
  };
  for (const Case& c : {Case{"a", 0, false}, Case{"b", 0, true}, Case{"c", 1, false},
                        Case{"d", 1, true}, Case{"e", 2, false}, Case{"f", 2, true},
                        Case{"g", 3, false}, Case{"", 0, false}, Case{"bb", 1, false}}) {
    SCOPED_TRACE(c.str);
    EXPECT_EQ(symbol_map_search(map.get(), c.str, &exact), c.position);
    EXPECT_EQ(exact, c.exact);
  }
}

// Against a reference table: many strings in random order, with repeats,
// including prefixes of one another and bytes above 127.
TEST(SymbolMap, AgreesWithAReferenceTableAndKeepsStringsInPlace) {
  MapPtr map = make_map();
  std::mt19937 random(1234);
  std::vector<std::string> pool;
  for (int i = 0; i < 600; ++i) {
    std::string s = "urn:" + std::to_string(random() % 5000);
    if (i % 7 == 0) {
      s += "\xc3\xa9";
    }
    pool.push_back(s);
    pool.push_back(s.substr(0, s.size() / 2));
  }

  std::map<std::string, uint32_t> expected;
  std::vector<const char*> first_strings;
  for (int n = 0; n < 3000; ++n) {
    const std::string& s = pool[random() % pool.size()];
    const auto [it, is_new] = expected.emplace(s, static_cast<uint32_t>(expected.size() + 1));
    ASSERT_EQ(symbol_map_map(map.get(), s.c_str()), it->second) << s;
    if (is_new && first_strings.size() < 50) {
      first_strings.push_back(symbol_map_unmap(map.get(), it->second));
    }
  }

  ASSERT_EQ(map->size, expected.size());
  std::vector<uint32_t> sorted_ids;
  for (const auto& [s, id] : expected) {
    sorted_ids.push_back(id);
    EXPECT_STREQ(symbol_map_unmap(map.get(), id), s.c_str());
  }
  EXPECT_EQ(map->index, sorted_ids);

  // Strings handed out early are still the map's own storage.
  for (size_t i = 0; i < first_strings.size(); ++i) {
    EXPECT_EQ(symbol_map_unmap(map.get(), static_cast<uint32_t>(i + 1)), first_strings[i]);
  }
}

} // namespace
