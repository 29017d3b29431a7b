#include "qt/bexo_qt.hpp"
#include "state/saved_state.hpp"

#include <QDir>
#include <QFileDialog>
#include <QKeySequence>
#include <QMessageBox>

SaveStateAction::SaveStateAction(StateHost* host, QWidget* window)
    : QAction(QStringLiteral("Save &As..."), window), host(host), window(window) {
  setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+A")));
  setStatusTip(QStringLiteral("Save the plugin's whole state into a folder"));
  connect(this, SIGNAL(triggered()), this, SLOT(saveChosen()));
}

void SaveStateAction::saveChosen() {
  const QString dir =
      QFileDialog::getExistingDirectory(window, QStringLiteral("Save State"), QDir::homePath());
  if (dir.isEmpty()) {
    return;
  }
  const QByteArray path = dir.toLocal8Bit();
  if (saved_state_dir_kind(path.constData()) == STATE_DIR_OTHER &&
      QMessageBox::question(
          window, QStringLiteral("Save State"),
          QStringLiteral("The folder \"%1\" holds other files. Save the state into it as well?")
              .arg(dir)) != QMessageBox::Yes) {
    return;
  }
  save_state(host, path.constData()); // a failure says why in the log
}
