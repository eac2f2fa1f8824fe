#include "ui/option_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "engine/number_options.h"
#include "run/window_texts.h"
#include "ui/program_look.h"

namespace dialmend {

namespace {

// The program's icon beside its name, as at the top of every dialog of the program.
QHBoxLayout* Heading(QWidget* dialog) {
  auto* image = new QLabel(dialog);
  image->setObjectName(QStringLiteral("Image1"));
  image->setPixmap(ProgramIcon().pixmap(32, 32));
  auto* title = new QLabel(QStringLiteral("Dialmend"), dialog);
  title->setObjectName(QStringLiteral("Title"));
  title->setFont(TitleFont());
  auto* heading = new QHBoxLayout;
  heading->addWidget(image);
  heading->addWidget(title, 1);
  return heading;
}

QLabel* Introduction(QWidget* dialog) {
  auto* label2 =
      new QLabel(QStringLiteral("Options for handling +44 prefix on UK numbers. "), dialog);
  label2->setObjectName(QStringLiteral("Label2"));
  return label2;
}

// A frame of three radio buttons, the first checked, whose clicks reach `handler` with the
// button's index; the buttons are named `button_name` and their index.
QGroupBox* ChoiceFrame(OptionDialog* dialog, const char* name, const QString& caption,
                       const std::array<QString, 3>& labels, std::array<QRadioButton*, 3>& buttons,
                       const char* button_name, void (OptionDialog::*handler)(int)) {
  auto* box = new QGroupBox(caption, dialog);
  box->setObjectName(QString::fromLatin1(name));
  auto* column = new QVBoxLayout(box);
  auto* group = new QButtonGroup(box);
  for (int i = 0; i < 3; ++i) {
    buttons[i] = new QRadioButton(labels[i], box);
    buttons[i]->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(button_name)).arg(i));
    group->addButton(buttons[i], i);
    column->addWidget(buttons[i]);
  }
  buttons[0]->setChecked(true);
  QObject::connect(group, &QButtonGroup::idClicked, dialog, handler);
  return box;
}

QLabel* LocaleNote(QWidget* dialog) {
  auto* label1 = new QLabel(
      QStringLiteral("N.B. This version of Dialmend assumes that all numbers without an "
                     "international prefix are UK numbers. Versions for other locales can be "
                     "generated on request."),
      dialog);
  label1->setObjectName(QStringLiteral("Label1"));
  label1->setWordWrap(true);
  return label1;
}

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QCheckBox* OldCodesBox(OptionDialog* dialog) {
  auto* box = new QCheckBox(Text(kOldCodesCaption), dialog);
  box->setObjectName(QStringLiteral("chkOldCodes"));
  box->setToolTip(Text(kOldCodesTip));
  QObject::connect(box, &QCheckBox::clicked, dialog, &OptionDialog::chkOldCodes_Click);
  return box;
}

QPushButton* OkButton(OptionDialog* dialog) {
  auto* ok = new QPushButton(QStringLiteral("OK"), dialog);
  ok->setObjectName(QStringLiteral("cmdOK"));
  ok->setDefault(true);
  ok->setAutoDefault(true);
  QObject::connect(ok, &QPushButton::clicked, dialog, &OptionDialog::cmdOK_Click);
  return ok;
}

// Tab goes down the prefix choices, then the zero choices, then the check box and OK.
void SetTabOrder(const std::array<QRadioButton*, 3>& prefix,
                 const std::array<QRadioButton*, 3>& code, QCheckBox* old_codes, QPushButton* ok) {
  QWidget::setTabOrder(prefix[0], prefix[1]);
  QWidget::setTabOrder(prefix[1], prefix[2]);
  QWidget::setTabOrder(prefix[2], code[0]);
  QWidget::setTabOrder(code[0], code[1]);
  QWidget::setTabOrder(code[1], code[2]);
  QWidget::setTabOrder(code[2], old_codes);
  QWidget::setTabOrder(old_codes, ok);
}

}  // namespace

OptionDialog::OptionDialog(NumberOptions& options, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), m_options(options) {
  setObjectName(QStringLiteral("frmOption"));
  setWindowTitle(QStringLiteral("International Options"));
  setWindowIcon(ProgramIcon());
  setFont(ControlFont());

  QHBoxLayout* heading = Heading(this);
  QLabel* label2 = Introduction(this);
  QGroupBox* fra_prefix = ChoiceFrame(
      this, "fraPrefix", QStringLiteral("What to do with prefix"),
      {QStringLiteral("Leave +44 prefixes as found"), QStringLiteral("Remove all +44 prefixes"),
       QStringLiteral("Add +44 prefix to all UK numbers")},
      m_opt_prefix, "optPrefix", &OptionDialog::optPrefix_Click);
  QGroupBox* fra_code = ChoiceFrame(this, "fraCode", QStringLiteral("If prefix is present"),
                                    {QStringLiteral("Leave leading zero in area code as found"),
                                     QStringLiteral("Remove leading zero from area code"),
                                     QStringLiteral("Include leading zero in area code")},
                                    m_opt_code, "optCode", &OptionDialog::optCode_Click);
  QLabel* label1 = LocaleNote(this);
  m_chk_old_codes = OldCodesBox(this);
  QPushButton* ok = OkButton(this);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(heading);
  layout->addWidget(label2);
  layout->addWidget(fra_prefix);
  layout->addWidget(fra_code);
  layout->addWidget(label1);
  layout->addWidget(m_chk_old_codes);
  layout->addWidget(ok, 0, Qt::AlignRight);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  SetTabOrder(m_opt_prefix, m_opt_code, m_chk_old_codes, ok);
}

void OptionDialog::optPrefix_Click(int index) {
  m_options.prefix = PrefixFromNumber(index);
}

void OptionDialog::optCode_Click(int index) {
  m_options.leading_zero = ZeroFromNumber(index);
}

void OptionDialog::chkOldCodes_Click() {
  m_options.old_codes_only = m_chk_old_codes->isChecked();
}

void OptionDialog::cmdOK_Click() {
  hide();
}

}  // namespace dialmend
