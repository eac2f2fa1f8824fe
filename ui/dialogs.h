#pragma once

#include <QString>
#include <optional>

#include "run/run_controller.h"

class QWidget;

namespace dialmend {

// Every message box and file dialog of the program, so tests can answer them.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A message with an OK button only, no icon, titled "Dialmend".
  virtual void Inform(QWidget* parent, const QString& text) = 0;

  // Asks `question` with Yes, No and Cancel (the default), with the critical-stop icon.
  [[nodiscard]] virtual AbortAnswer AskAbort(QWidget* parent, const QString& question) = 0;

  // Asks `question` with Yes and No (the default), with the question icon; true for Yes.
  [[nodiscard]] virtual bool AskYesNo(QWidget* parent, const QString& question) = 0;

  // The Save As dialog for the log file, opened on `current`; std::nullopt when cancelled. A
  // file in a folder that does not exist is refused: the user is told and chooses again.
  [[nodiscard]] virtual std::optional<QString> ChooseLogFile(QWidget* parent,
                                                             const QString& current) = 0;

  // Where the contacts are: a folder, a .vcf file, a server's address or a desktop program's
  // books, offered as a choice of "Folder...", "File...", "Server address...", "GNOME address
  // books" ("eds:"), "Thunderbird" ("thunderbird:") or "KDE address book" ("kde:") under
  // `anchor`, then for the first three a dialog opened near `current` or a line to type the
  // address in; std::nullopt when cancelled.
  [[nodiscard]] virtual std::optional<QString> ChooseContacts(QWidget* anchor,
                                                              const QString& current) = 0;

  // A server's password, typed unseen after `prompt`; std::nullopt when cancelled, and from a
  // set of dialogs that asks nobody. `remember` gets whether the user ticked to keep it in the
  // desktop's secret store.
  [[nodiscard]] virtual std::optional<QString> AskPassword(QWidget* parent, const QString& prompt,
                                                           bool& remember) {
    (void)parent;
    (void)prompt;
    (void)remember;
    return std::nullopt;
  }
};

// The program's own: QMessageBox and QFileDialog.
class QtDialogs : public Dialogs {
 public:
  void Inform(QWidget* parent, const QString& text) override;
  AbortAnswer AskAbort(QWidget* parent, const QString& question) override;
  bool AskYesNo(QWidget* parent, const QString& question) override;
  std::optional<QString> ChooseLogFile(QWidget* parent, const QString& current) override;
  std::optional<QString> ChooseContacts(QWidget* anchor, const QString& current) override;
  std::optional<QString> AskPassword(QWidget* parent, const QString& prompt,
                                     bool& remember) override;
};

}  // namespace dialmend
