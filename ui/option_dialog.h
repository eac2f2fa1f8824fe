#pragma once

#include <QDialog>
#include <array>

class QCheckBox;
class QRadioButton;

namespace dialmend {

struct NumberOptions;

// The International Options dialog: what to do with +44 and the area code's leading zero, and
// whether to change only numbers with an old code.
// A choice is in force as soon as it is clicked; OK, Enter and Esc only hide the dialog,
// which keeps its choices until the program ends.
class OptionDialog : public QDialog {
 public:
  // `options` is the live option state the converter reads; it must outlive the dialog.
  OptionDialog(NumberOptions& options, QWidget* parent);

  void optPrefix_Click(int index);
  void optCode_Click(int index);
  void chkOldCodes_Click();
  void cmdOK_Click();

 protected:
  void reject() override { cmdOK_Click(); }

 private:
  NumberOptions& m_options;
  std::array<QRadioButton*, 3> m_opt_prefix{};
  std::array<QRadioButton*, 3> m_opt_code{};
  QCheckBox* m_chk_old_codes = nullptr;
};

}  // namespace dialmend
