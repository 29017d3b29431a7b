// The entries of the Presets menu, declared in bexo_qt.hpp.

#include "qt/bexo_qt.hpp"
#include "state/state.hpp"

#include <QMenu>

PresetAction::PresetAction(StateHost* host, const LilvNode* preset, QMenu* menu)
    : QAction(menu), host(host), preset(lilv_node_duplicate(preset)) {}

PresetAction::~PresetAction() {
  lilv_node_free(preset);
}

void PresetAction::presetChosen() {
  restore_preset(host, preset);
}

int appendPresetAction(StateHost* host, const LilvNode* preset, const LilvNode* label, void* data) {
  auto* menu = static_cast<QMenu*>(data);
  auto* action = new PresetAction(host, preset, menu);
  QObject::connect(action, SIGNAL(triggered()), action, SLOT(presetChosen()));
  action->setText(QString::fromUtf8(lilv_node_as_string(label)));
  menu->addAction(action);
  return 0;
}
