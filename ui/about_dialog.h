#pragma once

#include <QDialog>

namespace dialmend {

class Dialogs;

// "About Dialmend": what the program does, its version, a warning, and a button that starts
// the system information program. Not modal; deleted when closed.
class AboutDialog : public QDialog {
 public:
  AboutDialog(Dialogs& dialogs, QWidget* parent);

  // Enter and Esc press OK too; closing deletes the dialog.
  void cmdOK_Click() { accept(); }
  void cmdSysInfo_Click();

 private:
  void Form_Load();
  Dialogs& m_dialogs;
};

}  // namespace dialmend
