#pragma once

// bexo-qt: the Qt 6 Widgets front end.  A main window with File and
// Presets menus holds the plugin's own Qt UI or a generic panel of dials,
// laid out by a flow layout.

#include <QAction>
#include <QGroupBox>
#include <QLayout>
#include <QList>
#include <QString>
#include <QStyle>
#include <lilv/lilv.h>
#include <map>
#include <vector>

class QDial;
class QLabel;
class QMenu;
class QWidget;
struct Host;
struct Port;

/// One entry of the Presets menu; choosing it restores its preset.
class PresetAction : public QAction {
  Q_OBJECT

public:
  PresetAction(Host* host, const LilvNode* preset, QMenu* menu);
  ~PresetAction() override;

public slots:
  void presetChosen();

private:
  Host* host;
  LilvNode* preset; ///< Our own copy.
};

/// Sink for scan_presets: adds one PresetAction to the menu in `data`.
int appendPresetAction(Host* host, const LilvNode* preset, const LilvNode* label, void* data);

/// A dial with a value text for one control port of the generic panel.
class Controller : public QGroupBox {
  Q_OBJECT

public:
  Controller(Host* host, Port* port, QWidget* parent = nullptr);

  void applyRange(float min, float max);
  void showValue(float value);
  float dialValue() const;
  QString valueText(float value);
  int textWidth(const QString& text) const;

  QDial* dialWidget() const { return dial; }
  QLabel* valueLabelWidget() const { return valueLabel; }

public slots:
  void dialChanged(int value);

private:
  QDial* dial;
  Host* host;
  Port* port;
  QLabel* valueLabel;
  QString portName;
  int stepCount = 10000;
  float rangeMax = 1.0f;
  float rangeMin = 0.0f;
  bool integerMode = false;
  bool enumMode = false;
  bool logMode = false;
  std::vector<float> scaleValues;
  std::map<float, QString> scaleLabels;
};

/// The generic panel: a Controller per control port, grouped by port
/// group, in a FlowLayout.
QWidget* makeControlPanel(Host* host);

/// Lays items out like words in a paragraph, wrapping into rows.
class FlowLayout : public QLayout {
public:
  explicit FlowLayout(QWidget* parent = nullptr, int margin = -1, int hSpacing = -1,
                      int vSpacing = -1);
  ~FlowLayout() override;

  void addItem(QLayoutItem* item) override;
  int horizontalSpacing() const;
  int verticalSpacing() const;
  Qt::Orientations expandingDirections() const override;
  bool hasHeightForWidth() const override;
  int heightForWidth(int width) const override;
  int count() const override;
  QLayoutItem* itemAt(int index) const override;
  QSize minimumSize() const override;
  void setGeometry(const QRect& rect) override;
  QSize sizeHint() const override;
  QLayoutItem* takeAt(int index) override;

private:
  int arrange(const QRect& rect, bool measureOnly) const;
  int parentSpacing(QStyle::PixelMetric metric) const;

  QList<QLayoutItem*> items;
  int horizontalSpace;
  int verticalSpace;
};
