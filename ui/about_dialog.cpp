#include "ui/about_dialog.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "engine/version.h"
#include "platform/system_info.h"
#include "run/window_layout.h"
#include "run/window_texts.h"
#include "ui/dialogs.h"
#include "ui/program_look.h"

namespace dialmend {
namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString NameOf(AboutControl control) {
  return Q(AboutControls()[static_cast<std::size_t>(control)].name);
}

void Place(QWidget* widget, AboutControl control) {
  const TwipsRect& at = PlaceOf(control);
  widget->setGeometry(Px(at.left), Px(at.top), Px(at.width), Px(at.height));
}

QLabel* MakeLabel(QWidget* parent, AboutControl control, std::string_view text = {}) {
  auto* label = new QLabel(Q(text), parent);
  label->setObjectName(NameOf(control));
  Place(label, control);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QPushButton* MakeButton(QWidget* parent, AboutControl control, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(NameOf(control));
  Place(button, control);
  return button;
}

}  // namespace

AboutDialog::AboutDialog(Dialogs& dialogs, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), m_dialogs(dialogs) {
  setObjectName(QStringLiteral("frmAbout"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("About Dialmend"));
  setWindowIcon(ProgramIcon());
  setFont(ControlFont());
  setFixedSize(Px(kAboutWidth), Px(kAboutHeight));

  QLabel* icon = MakeLabel(this, AboutControl::Icon);
  const TwipsRect& icon_place = PlaceOf(AboutControl::Icon);
  icon->setPixmap(ProgramIcon().pixmap(Px(icon_place.width), Px(icon_place.height)));
  icon->setScaledContents(true);
  MakeLabel(this, AboutControl::Title, "Dialmend")->setFont(TitleFont());
  MakeLabel(this, AboutControl::Version);
  MakeLabel(this, AboutControl::Rights, kAboutRights)->setWordWrap(true);
  MakeLabel(this, AboutControl::Description)->setWordWrap(true);
  MakeLabel(this, AboutControl::Warning)->setWordWrap(true);

  // The etched separator, drawn as a sunken line three pixels high.
  auto* line = new QFrame(this);
  line->setObjectName(NameOf(AboutControl::Separator));
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  const TwipsRect& rule = PlaceOf(AboutControl::Separator);
  line->setGeometry(Px(rule.left), Px(rule.top) - 1, Px(rule.width), 3);

  QPushButton* ok = MakeButton(this, AboutControl::Ok, QStringLiteral("OK"));
  ok->setDefault(true);
  ok->setAutoDefault(true);
  connect(ok, &QPushButton::clicked, this, &AboutDialog::cmdOK_Click);

  QPushButton* sys_info =
      MakeButton(this, AboutControl::SysInfo, QStringLiteral("&System Info..."));
  sys_info->setAutoDefault(false);
  connect(sys_info, &QPushButton::clicked, this, &AboutDialog::cmdSysInfo_Click);

  Form_Load();
  ok->setFocus();
}

void AboutDialog::Form_Load() {
  findChild<QLabel*>(NameOf(AboutControl::Version))
      ->setText(QStringLiteral("Version %1").arg(QLatin1String(kVersion)));
  findChild<QLabel*>(NameOf(AboutControl::Description))->setText(Q(kAboutDescription));
  findChild<QLabel*>(NameOf(AboutControl::Warning))->setText(Q(kAboutWarning));
}

void AboutDialog::cmdSysInfo_Click() {
  if (!StartSysInfo()) m_dialogs.Inform(this, Q(kSysInfoUnavailable));
}

}  // namespace dialmend
