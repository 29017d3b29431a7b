#include "qt/controller.hpp"

#include "host/host.hpp"
#include "state/control.hpp"
#include "ui/ui_update.hpp"

#include <QDial>
#include <QFontMetrics>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr int controllerWidth = 150;
constexpr int minimumStepCount = 2;

bool isNumber(const LilvNode* node) {
  return node && (lilv_node_is_float(node) || lilv_node_is_int(node));
}

// Positions of a dial always fit an int, whatever range a plugin declares.
int toPosition(double position) {
  if (!(position == position)) {
    return 0;
  }
  return static_cast<int>(std::clamp(position, double{INT_MIN}, double{INT_MAX}));
}

// One precedence of kinds for range, reading and writing: an enumeration
// with values, then integers and toggles, then a usable logarithmic range,
// then linear.
enum class DialKind { Enumeration, Integer, Logarithmic, Linear };

DialKind dialKind(bool enumMode, bool integerMode, bool logMode, size_t scaleCount, float rangeMin,
                  float rangeMax) {
  if (enumMode && scaleCount > 0) {
    return DialKind::Enumeration;
  }
  if (integerMode) {
    return DialKind::Integer;
  }
  if (logMode && rangeMin > 0.0f && rangeMax > rangeMin) {
    return DialKind::Logarithmic;
  }
  return DialKind::Linear;
}

} // namespace

Controller::Controller(Host* host, Port* port, QWidget* parent)
    : QGroupBox(parent), dial(new QDial()), host(host), port(port),
      control(find_port_control(&host->controls, port->index)), valueLabel(new QLabel()) {
  // The bounds as the plugin declares them: the control's are scaled for an
  // lv2:sampleRate port, and it keeps no default apart from the value.
  LilvNode* def = nullptr;
  LilvNode* min = nullptr;
  LilvNode* max = nullptr;
  lilv_port_get_range(host->plugin, port->lilv_port, &def, &min, &max);
  const LilvNodePtr defOwner(def);
  const LilvNodePtr minOwner(min);
  const LilvNodePtr maxOwner(max);

  const LilvNodePtr steps(
      lilv_port_get(host->plugin, port->lilv_port, host->nodes.pprops_rangeSteps));
  if (steps && lilv_node_is_int(steps.get())) {
    stepCount = std::max(lilv_node_as_int(steps.get()), minimumStepCount);
  }
  // What the host read when it opened the plugin is not asked of lilv again.
  if (control) {
    readScalePoints();
    logMode = control->is_logarithmic;
    integerMode = control->is_integer;
    enumMode = control->is_enumeration;
    if (control->is_toggle) {
      integerMode = true;
      scaleLabels.try_emplace(0.0f, QStringLiteral("Off"));
      scaleLabels.try_emplace(1.0f, QStringLiteral("On"));
    }
  }

  const float initial =
      isNumber(def) ? lilv_node_as_float(def) : host->process.control_values[port->index];
  const bool numericRange = isNumber(min) && isNumber(max);
  applyRange(numericRange ? lilv_node_as_float(min) : 0.0f,
             numericRange ? lilv_node_as_float(max) : 1.0f);
  showValue(initial);

  auto* layout = new QVBoxLayout();
  layout->addWidget(valueLabel, 0, Qt::AlignHCenter);
  layout->addWidget(dial, 0, Qt::AlignHCenter);
  setLayout(layout);
  setMinimumWidth(controllerWidth);
  setMaximumWidth(controllerWidth);
  setTitleAndToolTip();
  setFlat(true);
  connect(dial, SIGNAL(valueChanged(int)), this, SLOT(dialChanged(int)));
}

// The dial steps through the points in the order the plugin lists them,
// which the control's points, sorted by value, no longer have; so lilv is
// asked again, but only for a port that has numeric points at all.
void Controller::readScalePoints() {
  if (control->points.empty()) {
    return;
  }
  LilvScalePoints* points = lilv_port_get_scale_points(host->plugin, port->lilv_port);
  if (!points) {
    return;
  }
  LILV_FOREACH(scale_points, i, points) {
    const LilvScalePoint* point = lilv_scale_points_get(points, i);
    const LilvNode* value = lilv_scale_point_get_value(point);
    if (isNumber(value)) {
      const float number = lilv_node_as_float(value);
      scaleValues.push_back(number);
      scaleLabels[number] =
          QString::fromUtf8(lilv_node_as_string(lilv_scale_point_get_label(point)));
    }
  }
  lilv_scale_points_free(points);
}

void Controller::setTitleAndToolTip() {
  const LilvNode* name = control ? control->label.get() : nullptr;
  portName = QStringLiteral("%1").arg(QString::fromUtf8(name ? lilv_node_as_string(name) : ""));
  setTitle(textWidth(portName) <= controllerWidth
               ? portName
               : QFontMetrics(font()).elidedText(portName, Qt::ElideRight, controllerWidth));
  const LilvNodePtr comment{lilv_port_get(host->plugin, port->lilv_port, host->nodes.rdfs_comment)};
  if (comment) {
    setToolTip(QString::fromUtf8(lilv_node_as_string(comment.get())));
  }
}

void Controller::applyRange(float min, float max) {
  rangeMin = min;
  rangeMax = max;
  switch (dialKind(enumMode, integerMode, logMode, scaleValues.size(), rangeMin, rangeMax)) {
  case DialKind::Enumeration:
    dial->setRange(0, static_cast<int>(scaleValues.size()) - 1);
    break;
  case DialKind::Integer:
    dial->setRange(toPosition(std::trunc(min)), toPosition(std::trunc(max)));
    break;
  case DialKind::Logarithmic:
    dial->setRange(1, stepCount);
    break;
  case DialKind::Linear:
    dial->setRange(toPosition(min * static_cast<float>(stepCount)),
                   toPosition(max * static_cast<float>(stepCount)));
    break;
  }
}

void Controller::showValue(float value) {
  int position = 0;
  switch (dialKind(enumMode, integerMode, logMode, scaleValues.size(), rangeMin, rangeMax)) {
  case DialKind::Enumeration: {
    const auto found = std::find(scaleValues.begin(), scaleValues.end(), value);
    position = static_cast<int>(found - scaleValues.begin());
    break;
  }
  case DialKind::Integer:
    position = toPosition(std::trunc(value));
    break;
  case DialKind::Logarithmic:
    position = toPosition(static_cast<float>(stepCount) * logf(value / rangeMin) /
                          logf(rangeMax / rangeMin));
    break;
  case DialKind::Linear:
    position = toPosition(value * static_cast<float>(stepCount));
    break;
  }
  {
    // Showing a value must never send it back to the plugin.
    const QSignalBlocker blocker(dial);
    dial->setValue(position);
  }
  valueLabel->setText(valueText(value));
}

float Controller::dialValue() const {
  const int position = dial->value();
  switch (dialKind(enumMode, integerMode, logMode, scaleValues.size(), rangeMin, rangeMax)) {
  case DialKind::Enumeration:
    return scaleValues[static_cast<size_t>(
        std::clamp(position, 0, static_cast<int>(scaleValues.size()) - 1))];
  case DialKind::Integer:
    return static_cast<float>(position);
  case DialKind::Logarithmic:
    // The exact inverse of showValue's mapping: the top position is the
    // maximum, and each step multiplies the value by the same factor.
    return rangeMin *
           powf(rangeMax / rangeMin, static_cast<float>(position) / static_cast<float>(stepCount));
  case DialKind::Linear:
    break;
  }
  return static_cast<float>(position) / static_cast<float>(stepCount);
}

QString Controller::valueText(float value) {
  const auto label = scaleLabels.find(value);
  if (label == scaleLabels.end()) {
    return QStringLiteral("%1").arg(static_cast<double>(value));
  }
  if (textWidth(label->second) > controllerWidth) {
    valueLabel->setToolTip(label->second);
    return QFontMetrics(font()).elidedText(label->second, Qt::ElideRight, controllerWidth);
  }
  return label->second;
}

int Controller::textWidth(const QString& text) const {
  return QFontMetrics(font()).horizontalAdvance(text);
}

void Controller::dialChanged(int) {
  const float value = dialValue();
  valueLabel->setText(valueText(value));
  // Through the control, so that what reads controls (saving a state,
  // printing) sees what the user set; it also sends the value on.
  if (control) {
    apply_control_value(host, control, sizeof(value), host->urids.atom_Float, &value);
  }
}
