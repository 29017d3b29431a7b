#include "ui/plugin_ui.hpp"

#include "base/nodes.hpp"
#include "ui/ui_host.hpp"
#include "ui/ui_update.hpp"

#include <lilv/lilv.h>
#include <lv2/data-access/data-access.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>
#include <memory>
#include <suil/suil.h>

namespace {

struct LilvFree {
  void operator()(char* path) const { lilv_free(path); }
};
using LilvPath = std::unique_ptr<char, LilvFree>;

bool ui_has_optional_feature(LilvWorld* world, const LilvUI* ui, const char* feature_uri) {
  const LilvNodePtr optional{lilv_new_uri(world, LV2_CORE__optionalFeature)};
  const LilvNodePtr feature{lilv_new_uri(world, feature_uri)};
  LilvNodes* found =
      lilv_world_find_nodes(world, lilv_ui_get_uri(ui), optional.get(), feature.get());
  const bool has = found && lilv_nodes_size(found) > 0;
  lilv_nodes_free(found);
  return has;
}

// suil's callbacks; the controller is the UiHost.
void write_from_ui(SuilController controller, uint32_t port_index, uint32_t buffer_size,
                   uint32_t protocol, const void* buffer) {
  plugin_ui_write(static_cast<UiHost*>(controller), port_index, buffer_size, protocol, buffer);
}

uint32_t index_of_symbol(SuilController controller, const char* symbol) {
  return port_index_by_symbol(static_cast<UiHost*>(controller), symbol);
}

} // namespace

void plugin_ui_create(UiHost* host, const char* container_type, void* parent) {
  host->ui_host = suil_host_new(write_from_ui, index_of_symbol, nullptr, nullptr);

  PluginUiFeatures& own = host->ui_features;
  own.parent = {LV2_UI__parent, parent};
  own.instance_access = {LV2_INSTANCE_ACCESS_URI, lilv_instance_get_handle(host->process.instance)};
  own.data_access = {LV2_DATA_ACCESS_URI, &host->features.data_access};
  own.idle_interface = {LV2_UI__idleInterface, nullptr};

  PluginFeatures& features = host->features;
  own.list = {&features.map_feature,
              &features.unmap_feature,
              &own.instance_access,
              &own.data_access,
              &features.log_feature,
              &own.parent,
              &features.options_feature,
              &own.idle_interface,
              features.request_value.request ? &features.request_value_feature : nullptr,
              nullptr};

  const LilvPath bundle{
      lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_bundle_uri(host->ui)), nullptr)};
  const LilvPath binary{
      lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(host->ui)), nullptr)};
  host->ui_instance = suil_instance_new(
      host->ui_host, static_cast<SuilController>(host), container_type,
      lilv_node_as_uri(lilv_plugin_get_uri(host->plugin)),
      lilv_node_as_uri(lilv_ui_get_uri(host->ui)), lilv_node_as_uri(host->ui_type), bundle.get(),
      binary.get(), own.list.data());
  if (host->ui_instance) {
    host->process.ui_reads_midi.store(true); // a UI may show notes, as a keyboard does
  }
}

bool plugin_ui_resizable(LilvWorld* world, const LilvUI* ui) {
  return ui && !ui_has_optional_feature(world, ui, LV2_UI__fixedSize) &&
         !ui_has_optional_feature(world, ui, LV2_UI__noUserResize);
}

uint32_t port_index_by_symbol(UiHost* host, const char* symbol) {
  const Port* port = find_port_by_symbol(host, symbol);
  return port ? port->index : UINT32_MAX;
}
