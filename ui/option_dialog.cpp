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
#include "run/window_layout.h"
#include "ui/program_look.h"

namespace dialmend {

namespace {

const OptionsSpec& Spec(OptionsControl control) {
  return OptionsControls()[static_cast<std::size_t>(control)];
}

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Caption(OptionsControl control) {
  return Text(Spec(control).caption);
}

// `widget` named as the control it draws.
template <class Widget>
Widget* Named(Widget* widget, OptionsControl control) {
  const std::string_view name = Spec(control).name;
  widget->setObjectName(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  return widget;
}

// The program's icon beside its name, as at the top of every dialog of the program.
QHBoxLayout* Heading(QWidget* dialog) {
  auto* icon = Named(new QLabel(dialog), OptionsControl::Icon);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  auto* title = Named(new QLabel(Caption(OptionsControl::Title), dialog), OptionsControl::Title);
  title->setFont(TitleFont());
  auto* heading = new QHBoxLayout;
  heading->addWidget(icon);
  heading->addWidget(title, 1);
  return heading;
}

// A frame of three radio buttons, the first checked, whose clicks reach `handler` with the
// button's index: `frame` and the three controls after it.
QGroupBox* ChoiceFrame(OptionDialog* dialog, OptionsControl frame,
                       std::array<QRadioButton*, 3>& buttons, void (OptionDialog::*handler)(int)) {
  auto* box = Named(new QGroupBox(Caption(frame), dialog), frame);
  auto* column = new QVBoxLayout(box);
  auto* group = new QButtonGroup(box);
  for (int i = 0; i < 3; ++i) {
    const auto control = static_cast<OptionsControl>(static_cast<int>(frame) + 1 + i);
    buttons[i] = Named(new QRadioButton(Caption(control), box), control);
    group->addButton(buttons[i], i);
    column->addWidget(buttons[i]);
  }
  buttons[0]->setChecked(true);
  QObject::connect(group, &QButtonGroup::idClicked, dialog, handler);
  return box;
}

QCheckBox* OldCodesBox(OptionDialog* dialog) {
  auto* box =
      Named(new QCheckBox(Caption(OptionsControl::OldCodes), dialog), OptionsControl::OldCodes);
  box->setToolTip(Text(Spec(OptionsControl::OldCodes).tip));
  QObject::connect(box, &QCheckBox::clicked, dialog, &OptionDialog::chkOldCodes_Click);
  return box;
}

QPushButton* OkButton(OptionDialog* dialog) {
  auto* ok = Named(new QPushButton(Caption(OptionsControl::Ok), dialog), OptionsControl::Ok);
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
  auto* introduction =
      Named(new QLabel(Caption(OptionsControl::Introduction), this), OptionsControl::Introduction);
  QGroupBox* prefix_frame =
      ChoiceFrame(this, OptionsControl::PrefixFrame, m_opt_prefix, &OptionDialog::optPrefix_Click);
  QGroupBox* code_frame =
      ChoiceFrame(this, OptionsControl::CodeFrame, m_opt_code, &OptionDialog::optCode_Click);
  auto* note =
      Named(new QLabel(Caption(OptionsControl::LocaleNote), this), OptionsControl::LocaleNote);
  note->setWordWrap(true);
  m_chk_old_codes = OldCodesBox(this);
  QPushButton* ok = OkButton(this);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(heading);
  layout->addWidget(introduction);
  layout->addWidget(prefix_frame);
  layout->addWidget(code_frame);
  layout->addWidget(note);
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
