#include "state/features.hpp"

#include "engine/worker.hpp"
#include "state/state.hpp"
#include "state/state_host.hpp"

#include <cstring>
#include <lv2/buf-size/buf-size.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>
#include <new>

namespace {

const LV2_Feature load_default_state_feature{LV2_STATE__loadDefaultState, nullptr};
const LV2_Feature bounded_block_length_feature{LV2_BUF_SIZE__boundedBlockLength, nullptr};

bool is_power_of_two(uint32_t value) {
  return value && !(value & (value - 1));
}

} // namespace

void features_init(PluginFeatures* features, StateHost* host) {
  features->fixed_block_length_feature = {LV2_BUF_SIZE__fixedBlockLength, nullptr};
  features->pow2_block_length_feature = {LV2_BUF_SIZE__powerOf2BlockLength, nullptr};
  features->map_feature = {LV2_URID__map, urid_mapper_get_map(host->urid_mapper)};
  features->unmap_feature = {LV2_URID__unmap, urid_mapper_get_unmap(host->urid_mapper)};
  features->make_path = {host, make_path};
  features->make_path_feature = {LV2_STATE__makePath, &features->make_path};
  // The handles stay empty until the workers exist; without one, requests fail.
  features->schedule = {nullptr, worker_request};
  features->schedule_feature = {LV2_WORKER__schedule, &features->schedule};
  features->state_schedule = {nullptr, worker_request_sync};
  features->state_schedule_feature = {LV2_WORKER__schedule, &features->state_schedule};
  features->log = {&host->log, lv2_log_printf, lv2_log_vprintf};
  features->log_feature = {LV2_LOG__log, &features->log};
  features->thread_safe_restore_feature = {LV2_STATE__threadSafeRestore, nullptr};
  features->request_value = {nullptr, nullptr};
  features->request_value_feature = {LV2_UI__requestValue, &features->request_value};
}

void options_init(PluginFeatures* features, const Urids* urids, const HostSettings* settings) {
  constexpr auto instance = LV2_OPTIONS_INSTANCE;
  features->options = {{
      {instance, 0, urids->param_sampleRate, sizeof(float), urids->atom_Float,
       &settings->sample_rate},
      {instance, 0, urids->bufsz_minBlockLength, sizeof(int32_t), urids->atom_Int,
       &settings->min_block_length},
      {instance, 0, urids->bufsz_maxBlockLength, sizeof(int32_t), urids->atom_Int,
       &settings->max_block_length},
      // Read as a 4-byte integer: the low half of the size on this target.
      {instance, 0, urids->bufsz_sequenceSize, sizeof(int32_t), urids->atom_Int,
       &settings->midi_buf_size},
      {instance, 0, urids->ui_updateRate, sizeof(float), urids->atom_Float, &settings->ui_rate_hz},
      {instance, 0, urids->ui_scaleFactor, sizeof(float), urids->atom_Float, &settings->ui_scale},
      // The block length is fixed, so the usual one is the one there is.
      {instance, 0, urids->bufsz_nominalBlockLength, sizeof(int32_t), urids->atom_Int,
       &settings->max_block_length},
      {instance, 0, 0, 0, 0, nullptr},
  }};
  features->options_feature = {LV2_OPTIONS__options, features->options.data()};
}

int build_feature_list(PluginFeatures* features, const HostSettings* settings) {
  std::vector<const LV2_Feature*>& list = features->feature_list;
  try {
    list.assign(feature_list_size, nullptr);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  list[0] = &features->map_feature;
  list[1] = &features->unmap_feature;
  list[2] = &features->schedule_feature;
  list[3] = &features->log_feature;
  list[4] = &features->options_feature;
  list[5] = &load_default_state_feature;
  list[6] = &bounded_block_length_feature;
  size_t n = 7;
  const uint32_t min = settings->min_block_length;
  const uint32_t max = settings->max_block_length;
  if (min == max) {
    list[n++] = &features->fixed_block_length_feature;
  }
  if (is_power_of_two(min) && is_power_of_two(max)) {
    list[n] = &features->pow2_block_length_feature;
  }
  return 0;
}

std::string check_required_features(const LilvPlugin* plugin,
                                    const LV2_Feature* const* feature_list, LogContext* log) {
  LilvNodes* required = lilv_plugin_get_required_features(plugin);
  std::string missing;
  LILV_FOREACH(nodes, i, required) {
    const char* uri = lilv_node_as_uri(lilv_nodes_get(required, i));
    if (!std::strcmp(uri, LV2_CORE__isLive) || !std::strcmp(uri, LV2_CORE__inPlaceBroken)) {
      continue;
    }
    bool offered = false;
    for (const LV2_Feature* const* f = feature_list; f && *f && !offered; ++f) {
      offered = !std::strcmp((*f)->URI, uri);
    }
    if (!offered) {
      missing = uri;
      break;
    }
  }
  lilv_nodes_free(required);
  if (!missing.empty() && log) {
    host_log(log, LOG_LEVEL_ERROR, "Feature %s is not supported", missing.c_str());
  }
  return missing;
}
