#pragma once

// bexo-qt: the Qt 6 Widgets front end.  A main window with File and
// Presets menus holds the plugin's own Qt UI or a generic panel of dials
// (control_panel.hpp), laid out by a flow layout (flow_layout.hpp).  This
// header has the Presets menu's entries; the window and the Frontend
// operations are in bexo_qt.cpp, which defines bexo_frontend.  It also
// has the File menu's entry that saves the whole state.

#include <QAction>
#include <lilv/lilv.h>

class QMenu;
class QWidget;
struct StateHost;

/// One entry of the Presets menu; choosing it restores its preset.
class PresetAction : public QAction {
  Q_OBJECT

public:
  PresetAction(StateHost* host, const LilvNode* preset, QMenu* menu);
  ~PresetAction() override;

public slots:
  void presetChosen();

private:
  StateHost* host;
  LilvNode* preset; ///< Our own copy.
};

/// Sink for scan_presets: adds one PresetAction to the menu in `data`.
int appendPresetAction(StateHost* host, const LilvNode* preset, const LilvNode* label, void* data);

/// "Save As..." of the File menu: saves the plugin's whole state into a
/// directory the user picks; one that holds other files is written into
/// only after the user agreed.
class SaveStateAction : public QAction {
  Q_OBJECT

public:
  SaveStateAction(StateHost* host, QWidget* window);

public slots:
  void saveChosen();

private:
  StateHost* host;
  QWidget* window;
};
