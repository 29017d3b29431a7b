#pragma once

// Every LV2 feature structure the host offers, kept in one record so that
// the plugin's feature list, the state-restore list and the UI list all
// point at the same structures.  The record holds pointers into itself and
// into the StateHost it belongs to: it is filled in place and never moved.

#include <array>
#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <lv2/data-access/data-access.h>
#include <lv2/log/log.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/ui/ui.h>
#include <lv2/worker/worker.h>
#include <string>
#include <vector>

struct HostSettings;
struct LogContext;
struct StateHost;
struct Urids;

/// Entries of the options array, the terminating one included.
constexpr size_t options_count = 8;

/// Entries of the plugin's feature list, room for the terminating null included.
constexpr size_t feature_list_size = 10;

struct PluginFeatures {
  LV2_Feature fixed_block_length_feature;
  LV2_Feature pow2_block_length_feature;
  LV2_Feature map_feature;
  LV2_Feature unmap_feature;
  LV2_State_Make_Path make_path;
  LV2_Feature make_path_feature;
  LV2_Worker_Schedule schedule;
  LV2_Feature schedule_feature;
  LV2_Worker_Schedule state_schedule;
  LV2_Feature state_schedule_feature;
  LV2_Log_Log log;
  LV2_Feature log_feature;
  std::array<LV2_Options_Option, options_count> options;
  LV2_Feature options_feature;
  LV2_Feature thread_safe_restore_feature;
  LV2UI_Request_Value request_value;
  LV2_Feature request_value_feature;
  LV2_Extension_Data_Feature data_access;
  /// What the plugin is instantiated with: null-terminated, null until built.
  std::vector<const LV2_Feature*> feature_list;
};

/// Fill every structure that needs no plugin: the URID map and unmap of the
/// host's mapper, make-path on the host, both schedules without a worker,
/// and the log on the host's LogContext.  The request-value feature stays
/// empty: a front end that serves it sets its function and handle.
void features_init(PluginFeatures* features, StateHost* host);

/// Fill the options array with pointers into `settings`, which must outlive
/// the features: later changes to the settings are seen through it.
void options_init(PluginFeatures* features, const Urids* urids, const HostSettings* settings);

/// Build the plugin's feature list for the block lengths in `settings`.
/// Returns 0, or 1 when there was no memory for it.
int build_feature_list(PluginFeatures* features, const HostSettings* settings);

/// The first feature that `plugin` requires and that `feature_list` does
/// not offer, or an empty string when every one is supported.  When `log`
/// is given, the refusal is reported there as an error.
std::string check_required_features(const LilvPlugin* plugin,
                                    const LV2_Feature* const* feature_list,
                                    LogContext* log = nullptr);
