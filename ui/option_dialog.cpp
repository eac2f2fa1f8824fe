#include "ui/option_dialog.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "engine/number_options.h"
#include "ui/program_look.h"

namespace dialmend {

OptionDialog::OptionDialog(NumberOptions& options, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), m_options(options) {
  setObjectName(QStringLiteral("frmOption"));
  setWindowTitle(QStringLiteral("International Options"));
  setWindowIcon(ProgramIcon());
  setFont(ControlFont());

  auto* image = new QLabel(this);
  image->setObjectName(QStringLiteral("Image1"));
  image->setPixmap(ProgramIcon().pixmap(32, 32));
  auto* title = new QLabel(QStringLiteral("Dialmend"), this);
  title->setObjectName(QStringLiteral("Title"));
  title->setFont(TitleFont());
  auto* heading = new QHBoxLayout;
  heading->addWidget(image);
  heading->addWidget(title, 1);

  auto* label2 =
      new QLabel(QStringLiteral("Options for handling +44 prefix on UK numbers. "), this);
  label2->setObjectName(QStringLiteral("Label2"));

  const auto frame = [this](const char* name, const QString& caption,
                            const std::array<QString, 3>& labels,
                            std::array<QRadioButton*, 3>& buttons, const char* button_name,
                            void (OptionDialog::*handler)(int)) {
    auto* box = new QGroupBox(caption, this);
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
    connect(group, &QButtonGroup::idClicked, this, handler);
    return box;
  };
  QGroupBox* fra_prefix = frame(
      "fraPrefix", QStringLiteral("What to do with prefix"),
      {QStringLiteral("Leave +44 prefixes as found"), QStringLiteral("Remove all +44 prefixes"),
       QStringLiteral("Add +44 prefix to all UK numbers")},
      m_opt_prefix, "optPrefix", &OptionDialog::optPrefix_Click);
  QGroupBox* fra_code = frame("fraCode", QStringLiteral("If prefix is present"),
                              {QStringLiteral("Leave leading zero in area code as found"),
                               QStringLiteral("Remove leading zero from area code"),
                               QStringLiteral("Include leading zero in area code")},
                              m_opt_code, "optCode", &OptionDialog::optCode_Click);

  auto* label1 = new QLabel(
      QStringLiteral("N.B. This version of Dialmend assumes that all numbers without an "
                     "international prefix are UK numbers. Versions for other locales can be "
                     "generated on request."),
      this);
  label1->setObjectName(QStringLiteral("Label1"));
  label1->setWordWrap(true);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("cmdOK"));
  ok->setDefault(true);
  ok->setAutoDefault(true);
  connect(ok, &QPushButton::clicked, this, &OptionDialog::cmdOK_Click);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(heading);
  layout->addWidget(label2);
  layout->addWidget(fra_prefix);
  layout->addWidget(fra_code);
  layout->addWidget(label1);
  layout->addWidget(ok, 0, Qt::AlignRight);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  setTabOrder(m_opt_prefix[0], m_opt_prefix[1]);
  setTabOrder(m_opt_prefix[1], m_opt_prefix[2]);
  setTabOrder(m_opt_prefix[2], m_opt_code[0]);
  setTabOrder(m_opt_code[0], m_opt_code[1]);
  setTabOrder(m_opt_code[1], m_opt_code[2]);
  setTabOrder(m_opt_code[2], ok);
}

void OptionDialog::optPrefix_Click(int index) {
  m_options.prefix = PrefixFromNumber(index);
}

void OptionDialog::optCode_Click(int index) {
  m_options.leading_zero = ZeroFromNumber(index);
}

void OptionDialog::cmdOK_Click() {
  hide();
}

}  // namespace dialmend
