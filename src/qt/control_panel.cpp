#include "qt/control_panel.hpp"

#include "host/host.hpp"
#include "qt/controller.hpp"
#include "qt/flow_layout.hpp"
#include "state/control.hpp"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

QString groupTitle(Host* host, const LilvNode* group) {
  LilvNodePtr name(lilv_world_get(host->world, group, host->nodes.lv2_name, nullptr));
  if (!name) {
    name.reset(lilv_world_get(host->world, group, host->nodes.rdfs_label, nullptr));
  }
  return name ? QString::fromUtf8(lilv_node_as_string(name.get())) : QString();
}

// The control ports the panel shows, in panel order, with the group and
// visibility the host read into their controls when it opened the plugin.
// The sort is stable, so a group's ports keep their order.  A port whose
// control the host could not keep has nothing to show.
std::vector<PortEntry> panelEntries(Host* host) {
  std::vector<PortEntry> entries;
  for (Port& port : host->ports) {
    const Control* control =
        port.type == TYPE_CONTROL ? find_port_control(&host->controls, port.index) : nullptr;
    if (!control || (!host->options.show_hidden && control->is_hidden)) {
      continue;
    }
    const LilvNode* group = control->group.get();
    entries.push_back({&port, group, group ? lilv_node_as_string(group) : ""});
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
      if (!groupBox || !previous->group || !lilv_node_equals(previous->group, entry.group)) {
        groupBox = new QGroupBox(groupTitle(host, entry.group));
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
