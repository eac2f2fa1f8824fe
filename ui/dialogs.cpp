#include "ui/dialogs.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QVBoxLayout>

#include "run/window_texts.h"

namespace dialmend {

void QtDialogs::Inform(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Dialmend"), text, QMessageBox::Ok, parent);
  box.exec();
}

AbortAnswer QtDialogs::AskAbort(QWidget* parent, const QString& question) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Dialmend"), question,
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

bool QtDialogs::AskYesNo(QWidget* parent, const QString& question) {
  // Shaped as the Abort question, with No as the safe default; a question, not an error.
  QMessageBox box(QMessageBox::Question, QStringLiteral("Dialmend"), question,
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
    Inform(parent, QString::fromStdString(MissingLogFolderText(
                       QDir::toNativeSeparators(chosen).toStdString(),
                       QDir::toNativeSeparators(folder.filePath()).toStdString())));
    offered = chosen;
  }
}

std::optional<QString> QtDialogs::ChooseContacts(QWidget* anchor, const QString& current) {
  // One dialog cannot choose a folder or a file alike on every desktop: ask which first.
  QMenu menu(anchor);
  QAction* folder = menu.addAction(QStringLiteral("&Folder..."));
  menu.addAction(QStringLiteral("F&ile..."));
  QAction* server = menu.addAction(QStringLiteral("&Server address..."));
  // The desktop programs' own books, as --profile names them.
  QAction* gnome = menu.addAction(QStringLiteral("&GNOME address books"));
  QAction* thunderbird = menu.addAction(QStringLiteral("&Thunderbird"));
  QAction* kde = menu.addAction(QStringLiteral("&KDE address book"));
  QAction* picked = menu.exec(anchor->mapToGlobal(QPoint(0, anchor->height())));
  if (picked == nullptr) return std::nullopt;
  if (picked == gnome) return QStringLiteral("eds:");
  if (picked == thunderbird) return QStringLiteral("thunderbird:");
  if (picked == kde) return QStringLiteral("kde:");
  QWidget* parent = anchor->window();
  if (picked == server) {
    const bool is_address = current.startsWith(QStringLiteral("http"), Qt::CaseInsensitive);
    bool ok = false;
    const QString typed =
        QInputDialog::getText(parent, QStringLiteral("Server address..."),
                              QStringLiteral("CardDAV address (https://user@host/path):"),
                              QLineEdit::Normal, is_address ? current : QString(), &ok)
            .trimmed();
    if (!ok || typed.isEmpty()) return std::nullopt;
    return typed;
  }
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

std::optional<QString> QtDialogs::AskPassword(QWidget* parent, const QString& prompt,
                                              bool& remember) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Dialmend"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(prompt, &dialog));
  auto* password = new QLineEdit(&dialog);
  password->setObjectName(QStringLiteral("Password"));
  password->setEchoMode(QLineEdit::Password);
  layout->addWidget(password);
  auto* keep = new QCheckBox(QStringLiteral("&Remember the password in the desktop's secret store"),
                             &dialog);
  keep->setObjectName(QStringLiteral("Remember"));
  layout->addWidget(keep);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  remember = keep->isChecked();
  return password->text();
}

}  // namespace dialmend
