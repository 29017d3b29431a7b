#include "qt/bexo_qt.hpp"

#include "engine/message.hpp"
#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/host_open.hpp"
#include "host/lifecycle.hpp"
#include "state/control.hpp"
#include "state/state.hpp"
#include "ui/plugin_ui.hpp"
#include "ui/ui_update.hpp"

#include <QApplication>
#include <QDial>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>
#include <suil/suil.h>

namespace {

constexpr int controllerWidth = 150;
constexpr int defaultStepCount = 10000;
constexpr int minimumStepCount = 2;
constexpr char qt6UiType[] = "http://lv2plug.in/ns/extensions/ui#Qt6UI";

// Drives the host's periodic update at the UI update rate.
class Timer : public QTimer {
public:
  explicit Timer(Host* host) : host(host) {}

protected:
  void timerEvent(QTimerEvent*) override { periodic_update(host); }

private:
  Host* host;
};

struct PortEntry {
  Host* host;
  Port* port;
};

LilvNodePtr portGroup(const Host* host, const Port* port) {
  return LilvNodePtr(lilv_port_get(host->plugin, port->lilv_port, host->nodes.pg_group));
}

bool portEntryLess(const PortEntry& a, const PortEntry& b) {
  const LilvNodePtr groupA = portGroup(a.host, a.port);
  const LilvNodePtr groupB = portGroup(b.host, b.port);
  if (groupA && groupB) {
    return strcmp(lilv_node_as_string(groupA.get()), lilv_node_as_string(groupB.get())) < 0;
  }
  return !groupA && groupB;
}

bool portHas(const Host* host, const Port* port, const LilvNode* property) {
  return lilv_port_has_property(host->plugin, port->lilv_port, property);
}

QString groupTitle(Host* host, const LilvNode* group) {
  LilvNodePtr name(lilv_world_get(host->world, group, host->nodes.lv2_name, nullptr));
  if (!name) {
    name.reset(lilv_world_get(host->world, group, host->nodes.rdfs_label, nullptr));
  }
  return name ? QString::fromUtf8(lilv_node_as_string(name.get())) : QString();
}

// Positions of a dial always fit an int, whatever range a plugin declares.
int toPosition(double position) {
  if (!(position == position)) {
    return 0;
  }
  return static_cast<int>(std::clamp(position, double{INT_MIN}, double{INT_MAX}));
}

} // namespace

// --- Presets ---------------------------------------------------------------

PresetAction::PresetAction(Host* host, const LilvNode* preset, QMenu* menu)
    : QAction(menu), host(host), preset(lilv_node_duplicate(preset)) {}

PresetAction::~PresetAction() {
  lilv_node_free(preset);
}

void PresetAction::presetChosen() {
  restore_preset(host, preset);
}

int appendPresetAction(Host* host, const LilvNode* preset, const LilvNode* label, void* data) {
  auto* menu = static_cast<QMenu*>(data);
  auto* action = new PresetAction(host, preset, menu);
  QObject::connect(action, SIGNAL(triggered()), action, SLOT(presetChosen()));
  action->setText(QString::fromUtf8(lilv_node_as_string(label)));
  menu->addAction(action);
  return 0;
}

// --- Controller ------------------------------------------------------------

// One precedence of kinds for range, reading and writing: an enumeration
// with values, then integers and toggles, then a usable logarithmic range,
// then linear.
enum class DialKind { Enumeration, Integer, Logarithmic, Linear };

static DialKind dialKind(bool enumMode, bool integerMode, bool logMode, size_t scaleCount,
                         float rangeMin, float rangeMax) {
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

Controller::Controller(Host* host, Port* port, QWidget* parent)
    : QGroupBox(parent), dial(new QDial()), host(host), port(port), valueLabel(new QLabel()) {
  const Nodes& nodes = host->nodes;
  LilvNode* def = nullptr;
  LilvNode* min = nullptr;
  LilvNode* max = nullptr;
  lilv_port_get_range(host->plugin, port->lilv_port, &def, &min, &max);
  const LilvNodePtr defOwner(def);
  const LilvNodePtr minOwner(min);
  const LilvNodePtr maxOwner(max);

  const LilvNodePtr steps(lilv_port_get(host->plugin, port->lilv_port, nodes.pprops_rangeSteps));
  if (steps && lilv_node_is_int(steps.get())) {
    stepCount = std::max(lilv_node_as_int(steps.get()), minimumStepCount);
  }

  if (LilvScalePoints* points = lilv_port_get_scale_points(host->plugin, port->lilv_port)) {
    LILV_FOREACH(scale_points, i, points) {
      const LilvScalePoint* point = lilv_scale_points_get(points, i);
      const LilvNode* value = lilv_scale_point_get_value(point);
      if (lilv_node_is_float(value) || lilv_node_is_int(value)) {
        const float number = lilv_node_as_float(value);
        scaleValues.push_back(number);
        scaleLabels[number] =
            QString::fromUtf8(lilv_node_as_string(lilv_scale_point_get_label(point)));
      }
    }
    lilv_scale_points_free(points);
  }

  logMode = portHas(host, port, nodes.pprops_logarithmic);
  integerMode = portHas(host, port, nodes.lv2_integer);
  enumMode = portHas(host, port, nodes.lv2_enumeration);
  if (portHas(host, port, nodes.lv2_toggled)) {
    integerMode = true;
    scaleLabels.try_emplace(0.0f, QStringLiteral("Off"));
    scaleLabels.try_emplace(1.0f, QStringLiteral("On"));
  }

  const float initial = def && (lilv_node_is_float(def) || lilv_node_is_int(def))
                            ? lilv_node_as_float(def)
                            : host->process.control_values[port->index];
  const bool numericRange = min && max && (lilv_node_is_float(min) || lilv_node_is_int(min)) &&
                            (lilv_node_is_float(max) || lilv_node_is_int(max));
  applyRange(numericRange ? lilv_node_as_float(min) : 0.0f,
             numericRange ? lilv_node_as_float(max) : 1.0f);
  showValue(initial);

  auto* layout = new QVBoxLayout();
  layout->addWidget(valueLabel, 0, Qt::AlignHCenter);
  layout->addWidget(dial, 0, Qt::AlignHCenter);
  setLayout(layout);
  setMinimumWidth(controllerWidth);
  setMaximumWidth(controllerWidth);

  const LilvNodePtr name(lilv_port_get_name(host->plugin, port->lilv_port));
  portName =
      QStringLiteral("%1").arg(QString::fromUtf8(name ? lilv_node_as_string(name.get()) : ""));
  setTitle(textWidth(portName) <= controllerWidth
               ? portName
               : QFontMetrics(font()).elidedText(portName, Qt::ElideRight, controllerWidth));

  if (const LilvNodePtr comment{lilv_port_get(host->plugin, port->lilv_port, nodes.rdfs_comment)}) {
    setToolTip(QString::fromUtf8(lilv_node_as_string(comment.get())));
  }
  setFlat(true);
  connect(dial, SIGNAL(valueChanged(int)), this, SLOT(dialChanged(int)));
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
  ring_write_control(host->process.ui_ring, port->index, value);
}

QWidget* makeControlPanel(Host* host) {
  std::vector<PortEntry> entries;
  for (Port& port : host->ports) {
    if (!host->options.show_hidden && portHas(host, &port, host->nodes.pprops_notOnGUI)) {
      continue;
    }
    if (port.type == TYPE_CONTROL) {
      entries.push_back({host, &port});
    }
  }
  std::sort(entries.begin(), entries.end(), portEntryLess);

  auto* panel = new QWidget();
  auto* flow = new FlowLayout(nullptr, -1, -1, -1);
  QGroupBox* groupBox = nullptr;
  LilvNodePtr previousGroup;
  for (const PortEntry& entry : entries) {
    auto* controller = new Controller(host, entry.port);
    LilvNodePtr group = portGroup(host, entry.port);
    if (!group) {
      flow->addWidget(controller);
    } else {
      if (!groupBox || !previousGroup || !lilv_node_equals(group.get(), previousGroup.get())) {
        groupBox = new QGroupBox(groupTitle(host, group.get()));
        groupBox->setLayout(new QHBoxLayout());
        flow->addWidget(groupBox);
      }
      groupBox->layout()->addWidget(controller);
    }
    entry.port->widget = controller;
    previousGroup = std::move(group);
  }
  panel->setLayout(flow);
  return panel;
}

// --- FlowLayout ------------------------------------------------------------

FlowLayout::FlowLayout(QWidget* parent, int margin, int hSpacing, int vSpacing)
    : QLayout(parent), horizontalSpace(hSpacing), verticalSpace(vSpacing) {
  setContentsMargins(margin, margin, margin, margin);
}

FlowLayout::~FlowLayout() {
  while (QLayoutItem* item = takeAt(0)) {
    delete item;
  }
}

void FlowLayout::addItem(QLayoutItem* item) {
  items.append(item);
}

int FlowLayout::horizontalSpacing() const {
  return horizontalSpace >= 0 ? horizontalSpace : parentSpacing(QStyle::PM_LayoutHorizontalSpacing);
}

int FlowLayout::verticalSpacing() const {
  return verticalSpace >= 0 ? verticalSpace : parentSpacing(QStyle::PM_LayoutVerticalSpacing);
}

Qt::Orientations FlowLayout::expandingDirections() const {
  return {};
}

bool FlowLayout::hasHeightForWidth() const {
  return true;
}

int FlowLayout::heightForWidth(int width) const {
  return arrange(QRect(0, 0, width, 0), true);
}

int FlowLayout::count() const {
  return static_cast<int>(items.size());
}

QLayoutItem* FlowLayout::itemAt(int index) const {
  return index >= 0 && index < items.size() ? items.at(index) : nullptr;
}

QLayoutItem* FlowLayout::takeAt(int index) {
  return index >= 0 && index < items.size() ? items.takeAt(index) : nullptr;
}

QSize FlowLayout::minimumSize() const {
  QSize size(-1, -1);
  for (const QLayoutItem* item : items) {
    size = size.expandedTo(item->minimumSize());
  }
  const QMargins margins = contentsMargins();
  return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

void FlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  arrange(rect, false);
}

QSize FlowLayout::sizeHint() const {
  return minimumSize();
}

int FlowLayout::arrange(const QRect& rect, bool measureOnly) const {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  getContentsMargins(&left, &top, &right, &bottom);
  const QRect effective = rect.adjusted(+left, +top, -right, -bottom);
  int x = effective.x();
  int y = effective.y();
  int lineHeight = 0;

  for (QLayoutItem* item : items) {
    const QWidget* widget = item->widget();
    int spaceX = horizontalSpacing();
    if (spaceX == -1 && widget) {
      spaceX = widget->style()->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton,
                                              Qt::Horizontal);
    }
    int spaceY = verticalSpacing();
    if (spaceY == -1 && widget) {
      spaceY = widget->style()->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton,
                                              Qt::Vertical);
    }
    // Items without a widget have no style to ask: they get no gap.
    spaceX = std::max(spaceX, 0);
    spaceY = std::max(spaceY, 0);

    const QSize hint = item->sizeHint();
    int nextX = x + hint.width() + spaceX;
    if (x + hint.width() > effective.right() && lineHeight > 0) {
      x = effective.x();
      y = y + lineHeight + spaceY;
      nextX = x + hint.width() + spaceX;
      lineHeight = 0;
    }
    if (!measureOnly) {
      item->setGeometry(QRect(QPoint(x, y), hint));
    }
    x = nextX;
    lineHeight = std::max(lineHeight, hint.height());
  }
  return y + lineHeight - rect.y() + bottom;
}

int FlowLayout::parentSpacing(QStyle::PixelMetric metric) const {
  QObject* parentObject = parent();
  if (!parentObject) {
    return -1;
  }
  if (parentObject->isWidgetType()) {
    auto* widget = static_cast<QWidget*>(parentObject);
    return widget->style()->pixelMetric(metric, nullptr, widget);
  }
  return static_cast<QLayout*>(parentObject)->spacing();
}

// --- Front-end operations ----------------------------------------------------

int gui_init(Host* host) {
  auto* application = new QApplication(host->argc, host->argv);
  application->setStyleSheet(
      QStringLiteral("QGroupBox::title { subcontrol-position: top center }"));
  // The name the process was started under is not an argument.
  host->argc -= 1;
  host->argv += 1;
  host->gui_data = application;
  return 0;
}

int gui_run(Host* host) {
  if (host->argc <= 0) {
    return 1;
  }
  if (host_open(host, host->argv[0])) {
    return 1;
  }
  host_activate(host);

  auto* window = new QMainWindow();
  QMenu* fileMenu = window->menuBar()->addMenu(QStringLiteral("&File"));
  QMenu* presetsMenu = window->menuBar()->addMenu(QStringLiteral("&Presets"));

  auto* quitAction = new QAction(QStringLiteral("&Quit"), window);
  QObject::connect(quitAction, SIGNAL(triggered()), window, SLOT(close()));
  quitAction->setShortcuts(QKeySequence::Quit);
  quitAction->setStatusTip(QStringLiteral("Quit Bexo"));
  fileMenu->addAction(quitAction);

  scan_presets(host, appendPresetAction, presetsMenu);

  if (host->ui && !host->options.generic_ui) {
    plugin_ui_create(host, gui_native_ui_type(), window);
  }

  QWidget* central = nullptr;
  if (host->ui_instance) {
    central = static_cast<QWidget*>(suil_instance_get_widget(host->ui_instance));
  } else {
    auto* scrollArea = new QScrollArea();
    scrollArea->setWidget(makeControlPanel(host));
    scrollArea->setWidgetResizable(true);
    scrollArea->setMinimumWidth(800);
    scrollArea->setMinimumHeight(600);
    central = scrollArea;
  }

  window->setWindowTitle(
      QString::fromUtf8(host->plugin_name ? lilv_node_as_string(host->plugin_name) : ""));
  window->setCentralWidget(central);
  auto* application = static_cast<QApplication*>(host->gui_data);
  QObject::connect(application, SIGNAL(lastWindowClosed()), application, SLOT(quit()));

  plugin_ui_start(host);
  window->show();

  if (host->ui_instance && !plugin_ui_resizable(host->world, host->ui)) {
    central->setMinimumSize(central->width(), central->height());
    central->setMaximumSize(central->width(), central->height());
    window->adjustSize();
    window->setFixedSize(window->width(), window->height());
  } else {
    window->resize(central->width(), central->height() + window->menuBar()->height());
  }

  auto* timer = new Timer(host);
  timer->start(static_cast<int>(1000.0f / host->settings.ui_rate_hz));

  const int status = QApplication::exec();

  delete timer;
  host_deactivate(host);
  host_close(host);
  return status;
}

int gui_close(Host*) {
  QCoreApplication::quit();
  return 0;
}

const char* gui_native_ui_type() {
  return qt6UiType;
}

float gui_refresh_rate(Host*) {
  return static_cast<float>(QGuiApplication::primaryScreen()->refreshRate());
}

float gui_scale_factor(Host*) {
  return static_cast<float>(QGuiApplication::primaryScreen()->devicePixelRatio());
}

LilvNode* gui_choose_plugin(LilvWorld*) {
  return nullptr;
}

void gui_show_control(Host* host, Control* control) {
  if (control->type != PORT || control->value.type != host->urids.atom_Float ||
      control->index >= host->num_ports) {
    return;
  }
  if (auto* controller = static_cast<Controller*>(host->ports[control->index].widget)) {
    controller->showValue(
        static_cast<float>(control_value_to_double(&control->value, &host->forge)));
  }
}
