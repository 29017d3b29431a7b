#pragma once

// One dial of the generic panel: a flat group box titled with the port's
// name, holding the value's text above a QDial.

#include <QGroupBox>
#include <QString>
#include <map>
#include <vector>

class QDial;
class QLabel;
struct Control;
struct Host;
struct Port;

/// A dial with a value text for one control port of the generic panel.
/// Turning it sets the port's control, which sends the value to the plugin;
/// showValue moves it without sending anything.
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
  void readScalePoints();
  void setTitleAndToolTip();

  QDial* dial;
  Host* host;
  Port* port;
  Control* control; ///< The port's control, which a turn of the dial sets.
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
