#include "ui/dialogs.h"

#include <QFileDialog>
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

std::optional<QString> QtDialogs::ChooseLogFile(QWidget* parent, const QString& current) {
  QFileDialog dialog(parent, QStringLiteral("Log file..."), current, QStringLiteral("(*.txt)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.selectFile(current);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

}  // namespace dialmend
