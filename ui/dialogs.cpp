#include "ui/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

namespace dialmend {

void QtDialogs::Inform(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Dialmend"), text, QMessageBox::Ok, parent);
  box.exec();
}

AbortAnswer QtDialogs::AskAbort(QWidget* parent) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Dialmend"),
                  QStringLiteral("Update paused - the process may be resumed at any time.\n\n"
                                 "Are you sure you want to abort?"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
  box.setDefaultButton(QMessageBox::Cancel);
  box.setEscapeButton(QMessageBox::Cancel);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return AbortAnswer::Yes;
    case QMessageBox::No:
      return AbortAnswer::No;
    default:
      return AbortAnswer::Cancel;
  }
}

bool QtDialogs::AskUndo(QWidget* parent, const QString& started) {
  // Worded and shaped as the Abort question, with No as the safe default.
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Dialmend"),
                  QStringLiteral("Undo the update of %1 - each number it changed is put back, "
                                 "unless it has been changed again since.\n\n"
                                 "Are you sure you want to undo the update?")
                      .arg(started),
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtDialogs::ChooseLogFile(QWidget* parent, const QString& current) {
  QString offered = current;
  // A log in a missing folder would only fail when the run starts: choose again now.
  for (;;) {
    QFileDialog dialog(parent, QStringLiteral("Log file..."), offered, QStringLiteral("(*.txt)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(offered);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
      return std::nullopt;
    }
    const QString chosen = dialog.selectedFiles().front();
    const QFileInfo folder(QFileInfo(chosen).absolutePath());
    if (folder.isDir()) return chosen;
    Inform(parent,
           QStringLiteral("Cannot save the log to \"%1\": the folder \"%2\" does not "
                          "exist. Please choose another.")
               .arg(QDir::toNativeSeparators(chosen), QDir::toNativeSeparators(folder.filePath())));
    offered = chosen;
  }
}

std::optional<QString> QtDialogs::ChooseContacts(QWidget* anchor, const QString& current) {
  // One dialog cannot choose a folder or a file alike on every desktop: ask which first.
  QMenu menu(anchor);
  QAction* folder = menu.addAction(QStringLiteral("&Folder..."));
  menu.addAction(QStringLiteral("F&ile..."));
  QAction* picked = menu.exec(anchor->mapToGlobal(QPoint(0, anchor->height())));
  if (picked == nullptr) return std::nullopt;
  QWidget* parent = anchor->window();
  const QFileInfo at(current);
  const QString start = at.isDir() ? at.absoluteFilePath() : at.absolutePath();
  const QString chosen =
      picked == folder
          ? QFileDialog::getExistingDirectory(parent, QStringLiteral("Contacts folder..."), start)
          : QFileDialog::getOpenFileName(parent, QStringLiteral("Contacts file..."), start,
                                         QStringLiteral("vCard files (*.vcf)"));
  if (chosen.isEmpty()) return std::nullopt;
  return chosen;
}

}  // namespace dialmend
