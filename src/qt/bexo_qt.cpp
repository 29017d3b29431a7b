#include "qt/bexo_qt.hpp"

#include "base/log.hpp"
#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/host_open.hpp"
#include "host/lifecycle.hpp"
#include "host/periodic_update.hpp"
#include "host/session.hpp"
#include "qt/command_line.hpp"
#include "qt/control_panel.hpp"
#include "qt/controller.hpp"
#include "qt/title_style.hpp"
#include "state/control.hpp"
#include "state/state.hpp"
#include "ui/plugin_ui.hpp"
#include "ui/ui_update.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QTimerEvent>
#include <memory>
#include <suil/suil.h>

namespace {

constexpr char qt6UiType[] = "http://lv2plug.in/ns/extensions/ui#Qt6UI";

// In a session, closing the window only hides it: the session manager
// ends the program.
class MainWindow : public QMainWindow {
public:
  explicit MainWindow(Host* host) : host(host) {}

protected:
  void closeEvent(QCloseEvent* event) override {
    if (!in_session(host)) {
      event->accept();
      return;
    }
    event->ignore();
    hide();
    session_gui_changed(host, false);
  }

private:
  Host* host;
};

// The front end's record, the Host's gui_data.
struct QtFrontend {
  QApplication* application;
  MainWindow* window;  ///< Once the plugin runs.
  bool sized;          ///< The window got its size, when it was first shown.
  QByteArray argument; ///< The plugin or state to open; empty for none.
};

QtFrontend* frontendOf(Host* host) {
  return static_cast<QtFrontend*>(host->gui_data);
}

// Drives the host's periodic update at the UI update rate.
class Timer : public QTimer {
public:
  explicit Timer(Host* host) : host(host) {}

protected:
  void timerEvent(QTimerEvent*) override { periodic_update(host); }

private:
  Host* host;
};

int gui_init(Host* host) {
  if (answerInformationRequest(host->argc, host->argv)) {
    return 0; // and gui_run, without an application, runs nothing
  }
  auto* application = new QApplication(host->argc, host->argv);
  // Over the style the user chose (-style, QT_STYLE_OVERRIDE) or Qt's own.
  QApplication::setStyle(new TitleStyle(QApplication::style()->name()));
  QByteArray argument;
  QByteArray error;
  if (!readCommandLine(&argument, &error)) {
    host_log(&host->log, LOG_LEVEL_ERROR, "%s", error.constData());
    delete application;
    return 1;
  }
  // The name the process was started under is not an argument.
  host->argc -= 1;
  host->argv += 1;
  host->gui_data = new QtFrontend{application, nullptr, false, argument};
  return 0;
}

// The window's contents: the plugin's own UI when one was chosen and suil
// could make it, else the generic panel in a scroll area.
QWidget* makeCentralWidget(Host* host, QMainWindow* window) {
  if (host->ui && !host->options.generic_ui) {
    plugin_ui_create(host, qt6UiType, window);
  }
  if (host->ui_instance) {
    return static_cast<QWidget*>(suil_instance_get_widget(host->ui_instance));
  }
  auto* scrollArea = new QScrollArea();
  scrollArea->setWidget(makeControlPanel(host));
  scrollArea->setWidgetResizable(true);
  scrollArea->setMinimumWidth(800);
  scrollArea->setMinimumHeight(600);
  return scrollArea;
}

// In a session its setup is saved where the session manager says, and
// nowhere else.
void addSaveActions(Host* host, QMainWindow* window, QMenu* fileMenu) {
  if (in_session(host)) {
    auto* saveAction = new QAction(QStringLiteral("&Save"), window);
    saveAction->setStatusTip(QStringLiteral("Save the setup into the session"));
    QObject::connect(saveAction, &QAction::triggered, [host] { session_save(host); });
    fileMenu->addAction(saveAction);
  }
  auto* saveAsAction = new SaveStateAction(host, window);
  saveAsAction->setEnabled(!in_session(host));
  fileMenu->addAction(saveAsAction);
}

MainWindow* makeWindow(Host* host) {
  auto* window = new MainWindow(host);
  QMenu* fileMenu = window->menuBar()->addMenu(QStringLiteral("&File"));
  QMenu* presetsMenu = window->menuBar()->addMenu(QStringLiteral("&Presets"));

  addSaveActions(host, window, fileMenu);

  auto* quitAction = new QAction(QStringLiteral("&Quit"), window);
  QObject::connect(quitAction, SIGNAL(triggered()), window, SLOT(close()));
  quitAction->setShortcuts(QKeySequence::Quit);
  quitAction->setStatusTip(QStringLiteral("Quit Bexo"));
  fileMenu->addAction(quitAction);

  scan_presets(host, appendPresetAction, presetsMenu);
  window->setWindowTitle(
      QString::fromUtf8(host->plugin_name ? lilv_node_as_string(host->plugin_name) : ""));
  window->setCentralWidget(makeCentralWidget(host, window));
  return window;
}

// A UI that does not let the user resize it fixes the window at the size
// it asked for; anything else opens at its own size below the menu bar.
void sizeWindow(Host* host, QMainWindow* window) {
  QWidget* central = window->centralWidget();
  if (host->ui_instance && !plugin_ui_resizable(host->world, host->ui)) {
    central->setMinimumSize(central->width(), central->height());
    central->setMaximumSize(central->width(), central->height());
    window->adjustSize();
    window->setFixedSize(window->width(), window->height());
  } else {
    window->resize(central->width(), central->height() + window->menuBar()->height());
  }
}

void showWindow(QtFrontend* frontend, Host* host) {
  frontend->window->show();
  if (!frontend->sized) {
    sizeWindow(host, frontend->window);
    frontend->sized = true;
  }
}

int gui_run(Host* host) {
  QtFrontend* frontend = frontendOf(host);
  if (!frontend) {
    return 0; // --version
  }
  // Nothing calls the front end with its record once the run is over.
  const std::unique_ptr<QtFrontend> record(frontend);
  const auto forget_record = qScopeGuard([host] { host->gui_data = nullptr; });
  // Without an argument only a session can say what to open.
  const int status =
      host_open(host, frontend->argument.isEmpty() ? nullptr : frontend->argument.constData());
  if (status) {
    answer_session_open(host, status);
    return status == HOST_OPEN_QUIT ? 0 : 1;
  }
  if (host_activate(host)) {
    answer_session_open(host, 1);
    host_close(host);
    return 1;
  }

  frontend->window = makeWindow(host);
  QObject::connect(frontend->application, SIGNAL(lastWindowClosed()), frontend->application,
                   SLOT(quit()));
  plugin_ui_start(host);
  answer_session_open(host, 0);
  if (session_gui_visible(host)) {
    showWindow(frontend, host);
  }

  auto* timer = new Timer(host);
  timer->start(static_cast<int>(1000.0f / host->settings.ui_rate_hz));

  const int exitStatus = QApplication::exec();

  delete timer;
  host_deactivate(host);
  host_close(host);
  return exitStatus;
}

int gui_close(Host*) {
  QCoreApplication::quit();
  return 0;
}

void gui_set_visible(Host* host, bool visible) {
  QtFrontend* frontend = frontendOf(host);
  if (!frontend || !frontend->window) {
    return;
  }
  if (visible) {
    showWindow(frontend, host);
  } else {
    frontend->window->hide();
  }
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

} // namespace

const Frontend bexo_frontend = {
    gui_init,         gui_run,           gui_close,        gui_native_ui_type, gui_refresh_rate,
    gui_scale_factor, gui_choose_plugin, gui_show_control, gui_set_visible,
};
