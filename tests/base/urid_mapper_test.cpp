#include "base/urid_mapper.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(UridMapper, FeaturesCallTheLockedFunctionsOnTheMapper) {
  UridMapper* mapper = urid_mapper_new();
  ASSERT_NE(mapper, nullptr);

  LV2_URID_Map* map = urid_mapper_get_map(mapper);
  LV2_URID_Unmap* unmap = urid_mapper_get_unmap(mapper);
  ASSERT_NE(map, nullptr);
  ASSERT_NE(unmap, nullptr);
  EXPECT_EQ(map->handle, mapper);
  EXPECT_EQ(unmap->handle, mapper);

  const LV2_URID id = map->map(map->handle, "urn:bexo:test:a");
  EXPECT_EQ(id, 1u);
  EXPECT_EQ(urid_mapper_map_uri(mapper, "urn:bexo:test:a"), id);
  EXPECT_EQ(urid_mapper_map_uri(mapper, "urn:bexo:test:b"), 2u);
  EXPECT_STREQ(unmap->unmap(unmap->handle, 2), "urn:bexo:test:b");
  EXPECT_STREQ(urid_mapper_unmap_urid(mapper, 1), "urn:bexo:test:a");
  EXPECT_EQ(unmap->unmap(unmap->handle, 3), nullptr);

  urid_mapper_free(mapper);
}

TEST(UridMapper, NullMapperGivesNone) {
  EXPECT_EQ(urid_mapper_get_map(nullptr), nullptr);
  EXPECT_EQ(urid_mapper_get_unmap(nullptr), nullptr);
  EXPECT_EQ(urid_mapper_unmap_urid(nullptr, 1), nullptr);
  urid_mapper_free(nullptr);
}

// Plugins, UIs and the worker map from their own threads at once: every
// thread must see one id per URI, and the ids must stay dense.
TEST(UridMapper, ConcurrentMappingAgreesOnEveryId) {
  UridMapper* mapper = urid_mapper_new();
  ASSERT_NE(mapper, nullptr);
  LV2_URID_Map* map = urid_mapper_get_map(mapper);
  LV2_URID_Unmap* unmap = urid_mapper_get_unmap(mapper);

  constexpr int uri_count = 400;
  constexpr int thread_count = 4;
  std::vector<std::string> uris;
  for (int i = 0; i < uri_count; ++i) {
    uris.push_back("urn:bexo:test:concurrent#" + std::to_string(i));
  }

  std::vector<std::vector<LV2_URID>> seen(thread_count, std::vector<LV2_URID>(uri_count));
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t) {
    threads.emplace_back([&, t] {
      std::vector<int> order(uri_count);
      for (int i = 0; i < uri_count; ++i) {
        order[i] = i;
      }
      std::shuffle(order.begin(), order.end(), std::mt19937(t));
      for (int i : order) {
        seen[t][i] = map->map(map->handle, uris[i].c_str());
        EXPECT_STREQ(unmap->unmap(unmap->handle, seen[t][i]), uris[i].c_str());
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }

  std::vector<LV2_URID> ids = seen[0];
  for (int t = 1; t < thread_count; ++t) {
    EXPECT_EQ(seen[t], seen[0]);
  }
  std::sort(ids.begin(), ids.end());
  for (int i = 0; i < uri_count; ++i) {
    EXPECT_EQ(ids[i], static_cast<LV2_URID>(i + 1));
  }
  EXPECT_EQ(mapper->symbol_map.size, static_cast<uint32_t>(uri_count));
  urid_mapper_free(mapper);
}

} // namespace
