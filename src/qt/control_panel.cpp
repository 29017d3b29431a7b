#include "qt/control_panel.hpp"

#include "host/host.hpp"
#include "qt/controller.hpp"
#include "qt/flow_layout.hpp"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

QString groupTitle(Host* host, const LilvNode* group) {
  LilvNodePtr name(lilv_world_get(host->world, group, host->nodes.lv2_name, nullptr));
  if (!name) {
    name.reset(lilv_world_get(host->world, group, host->nodes.rdfs_label, nullptr));
  }
  return name ? QString::fromUtf8(lilv_node_as_string(name.get())) : QString();
}

// The control ports the panel shows, each with its group read once, in
// panel order.  The sort is stable, so a group's ports keep their order.
std::vector<PortEntry> panelEntries(Host* host) {
  std::vector<PortEntry> entries;
  for (Port& port : host->ports) {
    if (port.type != TYPE_CONTROL ||
        (!host->options.show_hidden &&
         lilv_port_has_property(host->plugin, port.lilv_port, host->nodes.pprops_notOnGUI))) {
      continue;
    }
    LilvNodePtr group(lilv_port_get(host->plugin, port.lilv_port, host->nodes.pg_group));
    std::string key = group ? lilv_node_as_string(group.get()) : "";
    entries.push_back({&port, std::move(group), std::move(key)});
  }
  std::stable_sort(entries.begin(), entries.end(), portEntryLess);
  return entries;
}

} // namespace

bool portEntryLess(const PortEntry& a, const PortEntry& b) {
  if (a.group && b.group) {
    return std::strcmp(a.groupKey.c_str(), b.groupKey.c_str()) < 0;
  }
  return !a.group && b.group;
}

QWidget* makeControlPanel(Host* host) {
  auto* panel = new QWidget();
  auto* flow = new FlowLayout(nullptr, -1, -1, -1);
  QGroupBox* groupBox = nullptr;
  const PortEntry* previous = nullptr;
  for (const PortEntry& entry : panelEntries(host)) {
    auto* controller = new Controller(host, entry.port);
    if (!entry.group) {
      flow->addWidget(controller);
    } else {
      if (!groupBox || !previous->group ||
          !lilv_node_equals(previous->group.get(), entry.group.get())) {
        groupBox = new QGroupBox(groupTitle(host, entry.group.get()));
        groupBox->setLayout(new QHBoxLayout());
        flow->addWidget(groupBox);
      }
      groupBox->layout()->addWidget(controller);
    }
    entry.port->widget = controller;
    previous = &entry;
  }
  panel->setLayout(flow);
  return panel;
}
