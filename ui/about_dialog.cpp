#include "ui/about_dialog.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "engine/version.h"
#include "run/window_texts.h"
#include "ui/dialogs.h"
#include "ui/program_look.h"
#include "ui/system_info.h"

namespace dialmend {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(Px(left), Px(top), Px(width), Px(height));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

}  // namespace

AboutDialog::AboutDialog(Dialogs& dialogs, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), m_dialogs(dialogs) {
  setObjectName(QStringLiteral("frmAbout"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("About Dialmend"));
  setWindowIcon(ProgramIcon());
  setFont(ControlFont());
  setFixedSize(Px(5835), Px(4080));

  QLabel* image = MakeLabel(this, "Image1", 120, 120, 885, 885);
  image->setPixmap(ProgramIcon().pixmap(Px(885), Px(885)));
  image->setScaledContents(true);

  QLabel* title = MakeLabel(this, "lblTitle", 1170, 120, 3885, 480);
  title->setText(QStringLiteral("Dialmend"));
  title->setFont(TitleFont());

  MakeLabel(this, "lblVersion", 1170, 600, 1455, 255);
  // The notice of rights sits beside the title, where the heading leaves room for two lines.
  QLabel* rights = MakeLabel(this, "Label1", 3000, 180, 2700, 420);
  rights->setText(QStringLiteral("Copyright (C) 2026 the Dialmend developers"));
  rights->setWordWrap(true);
  // Below the icon, not under it: the designed top of 945 hid the first line's top.
  MakeLabel(this, "lblDescription", 120, 1080, 5565, 1755)->setWordWrap(true);
  MakeLabel(this, "lblDisclaimer", 120, 3120, 3870, 825)->setWordWrap(true);

  // The etched separator: a grey line with a white one just above it.
  auto* line = new QFrame(this);
  line->setObjectName(QStringLiteral("Line1"));
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(Px(105), Px(2920) - 1, Px(5684 - 105), 3);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("cmdOK"));
  ok->setGeometry(Px(4440), Px(3120), Px(1260), Px(345));
  ok->setDefault(true);
  ok->setAutoDefault(true);
  connect(ok, &QPushButton::clicked, this, &AboutDialog::cmdOK_Click);

  auto* sys_info = new QPushButton(QStringLiteral("&System Info..."), this);
  sys_info->setObjectName(QStringLiteral("cmdSysInfo"));
  sys_info->setGeometry(Px(4440), Px(3600), Px(1245), Px(345));
  sys_info->setAutoDefault(false);
  connect(sys_info, &QPushButton::clicked, this, &AboutDialog::cmdSysInfo_Click);

  Form_Load();
  ok->setFocus();
}

void AboutDialog::Form_Load() {
  findChild<QLabel*>(QStringLiteral("lblVersion"))
      ->setText(QStringLiteral("Version %1").arg(QLatin1String(kVersion)));
  findChild<QLabel*>(QStringLiteral("lblDescription"))
      ->setText(QString::fromUtf8(kAboutDescription.data(),
                                  static_cast<qsizetype>(kAboutDescription.size())));
  findChild<QLabel*>(QStringLiteral("lblDisclaimer"))
      ->setText(
          QString::fromUtf8(kAboutWarning.data(), static_cast<qsizetype>(kAboutWarning.size())));
}

void AboutDialog::cmdSysInfo_Click() {
  if (!StartSysInfo()) m_dialogs.Inform(this, QString::fromLatin1(kSysInfoUnavailable.data()));
}

}  // namespace dialmend
