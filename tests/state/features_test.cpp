#include "engine/worker.hpp"
#include "frontend/test_frontend.hpp"
#include "harness/host_rig.hpp"
#include "host/host_open.hpp"
#include "state/features.hpp"

#include <cstring>
#include <gtest/gtest.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/urid/urid.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> feature_uris(const PluginFeatures& features) {
  std::vector<std::string> uris;
  for (const LV2_Feature* f : features.feature_list) {
    if (!f) {
      break;
    }
    uris.emplace_back(f->URI);
  }
  return uris;
}

class Features : public testing::Test {
protected:
  void SetUp() override {
    test_frontend_reset();
    ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
  }
  HostRig rig;
};

TEST_F(Features, TheListHoldsBothBlockLengthFeaturesOnlyForAPowerOfTwo) {
  PluginFeatures& features = rig.host.features;
  HostSettings settings = rig.host.settings;
  const std::vector<std::string> common{
      LV2_URID__map,
      LV2_URID__unmap,
      LV2_WORKER__schedule,
      LV2_LOG__log,
      LV2_OPTIONS__options,
      LV2_STATE__loadDefaultState,
      LV2_BUF_SIZE__boundedBlockLength,
  };
  struct Case {
    uint32_t min, max;
    std::vector<std::string> extra;
  } const cases[] = {
      {256, 256, {LV2_BUF_SIZE__fixedBlockLength, LV2_BUF_SIZE__powerOf2BlockLength}},
      {1000, 1000, {LV2_BUF_SIZE__fixedBlockLength}},
      {64, 4096, {LV2_BUF_SIZE__powerOf2BlockLength}},
      {100, 4096, {}},
  };
  for (const Case& c : cases) {
    settings.min_block_length = c.min;
    settings.max_block_length = c.max;
    ASSERT_EQ(build_feature_list(&features, &settings), 0);
    std::vector<std::string> expected = common;
    expected.insert(expected.end(), c.extra.begin(), c.extra.end());
    EXPECT_EQ(feature_uris(features), expected) << c.min << " to " << c.max;
    ASSERT_EQ(features.feature_list.size(), feature_list_size);
    EXPECT_EQ(features.feature_list.back(), nullptr);
  }
  settings.min_block_length = settings.max_block_length = 256;
  ASSERT_EQ(build_feature_list(&features, &settings), 0);
  EXPECT_EQ(feature_uris(features).size(), 9u);
  settings.min_block_length = settings.max_block_length = 1000;
  ASSERT_EQ(build_feature_list(&features, &settings), 0);
  EXPECT_EQ(feature_uris(features).size(), 8u);
}

TEST_F(Features, StructuresPointAtTheHostAndItsMapper) {
  StateHost* state = &rig.host;
  const PluginFeatures& f = state->features;
  EXPECT_EQ(f.map_feature.data, urid_mapper_get_map(state->urid_mapper));
  EXPECT_EQ(f.unmap_feature.data, urid_mapper_get_unmap(state->urid_mapper));
  // make_path casts its handle back to the StateHost.
  EXPECT_EQ(f.make_path.handle, state);
  EXPECT_EQ(f.make_path_feature.data, &f.make_path);
  EXPECT_EQ(f.log.handle, &state->log);
  EXPECT_EQ(f.log_feature.data, &f.log);
  // The tests' front end serves no value requests: the feature stays empty.
  EXPECT_EQ(f.request_value.handle, nullptr);
  EXPECT_EQ(f.request_value.request, nullptr);
  // The controls fixture has no worker: both schedules refuse.  The one for
  // work scheduled during a restore is the synchronous worker's.
  EXPECT_EQ(f.schedule.handle, nullptr);
  EXPECT_EQ(f.schedule.schedule_work, worker_request);
  EXPECT_EQ(f.schedule.schedule_work(f.schedule.handle, 4, "abc"), LV2_WORKER_ERR_UNKNOWN);
  EXPECT_EQ(f.state_schedule.handle, nullptr);
  EXPECT_EQ(f.state_schedule.schedule_work, worker_request_sync);
  EXPECT_EQ(f.state_schedule.schedule_work(f.state_schedule.handle, 4, "abc"),
            LV2_WORKER_ERR_UNKNOWN);
  EXPECT_STREQ(f.state_schedule_feature.URI, LV2_WORKER__schedule);
  EXPECT_STREQ(f.thread_safe_restore_feature.URI, LV2_STATE__threadSafeRestore);
  EXPECT_STREQ(f.request_value_feature.URI, LV2_UI__requestValue);
}

TEST_F(Features, OptionsPointIntoTheLiveSettings) {
  Host& host = rig.host;
  const LV2_Options_Option* options = host.features.options.data();
  ASSERT_EQ(host.features.options_feature.data, options);
  struct Expected {
    uint32_t key, type, size;
    const void* value;
  } const entries[] = {
      {host.urids.param_sampleRate, host.urids.atom_Float, 4, &host.settings.sample_rate},
      {host.urids.bufsz_minBlockLength, host.urids.atom_Int, 4, &host.settings.min_block_length},
      {host.urids.bufsz_maxBlockLength, host.urids.atom_Int, 4, &host.settings.max_block_length},
      {host.urids.bufsz_sequenceSize, host.urids.atom_Int, 4, &host.settings.midi_buf_size},
      {host.urids.ui_updateRate, host.urids.atom_Float, 4, &host.settings.ui_rate_hz},
      {host.urids.ui_scaleFactor, host.urids.atom_Float, 4, &host.settings.ui_scale},
      {host.urids.bufsz_nominalBlockLength, host.urids.atom_Int, 4,
       &host.settings.max_block_length},
  };
  for (size_t i = 0; i < std::size(entries); ++i) {
    EXPECT_EQ(options[i].context, LV2_OPTIONS_INSTANCE) << i;
    EXPECT_EQ(options[i].subject, 0u) << i;
    EXPECT_EQ(options[i].key, entries[i].key) << i;
    EXPECT_EQ(options[i].type, entries[i].type) << i;
    EXPECT_EQ(options[i].size, entries[i].size) << i;
    EXPECT_EQ(options[i].value, entries[i].value) << i;
  }
  EXPECT_EQ(options[7].key, 0u);
  EXPECT_EQ(options[7].value, nullptr);

  // What a plugin reads after the backend changed the block length.
  host.settings.max_block_length = 512;
  host.settings.midi_buf_size = 8192;
  int32_t block = 0;
  int32_t sequence = 0;
  std::memcpy(&block, options[2].value, 4);
  std::memcpy(&sequence, options[3].value, 4);
  EXPECT_EQ(block, 512);
  EXPECT_EQ(sequence, 8192);
}

TEST(RequiredFeatures, OnlyFeaturesOfTheListOrAlwaysAcceptedOnesPass) {
  test_frontend_reset();
  struct Case {
    const char* plugin;
    const char* refused;
  } const cases[] = {
      {"urn:bexo:test:required-in-place-broken", ""},
      {"urn:bexo:test:required-make-path", LV2_STATE__makePath},
      {"urn:bexo:test:required-made-up", "urn:bexo:test:made-up-feature"},
      {"http://lv2plug.in/plugins/eg-sampler", ""},
  };
  for (const Case& c : cases) {
    HostRig rig;
    const int status = rig.open_manual(c.plugin);
    EXPECT_EQ(status, *c.refused ? HOST_OPEN_BAD_FEATURE : 0) << c.plugin;
    if (*c.refused) {
      EXPECT_TRUE(
          rig.logged(LOG_LEVEL_ERROR, std::string("Feature ") + c.refused + " is not supported"))
          << c.plugin;
    }
    EXPECT_EQ(check_required_features(rig.host.plugin, rig.host.features.feature_list.data()),
              c.refused)
        << c.plugin;
  }
}

} // namespace
