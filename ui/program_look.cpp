#include "ui/program_look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QScreen>

#include "run/window_layout.h"

// Resources of a static library must be registered by name, outside any namespace.
static void RegisterResources() {
  Q_INIT_RESOURCE(ui);
}

namespace dialmend {

QIcon ProgramIcon() {
  static const bool registered = (RegisterResources(), true);
  (void)registered;
  QIcon icon(QStringLiteral(":/dialmend/dialmend.png"));
  icon.addFile(QStringLiteral(":/dialmend/dialmend-64.png"));
  return icon;
}

QFont TitleFont() {
  QFont font;
  for (const char* family : {"Liberation Serif", "DejaVu Serif", "Times New Roman"}) {
    if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
      font.setFamily(QString::fromLatin1(family));
      break;
    }
  }
  font.setStyleHint(QFont::Serif);
  font.setPointSizeF(18);
  return font;
}

QFont ControlFont(bool bold) {
  QFont font = QApplication::font();
  // The captions were sized for a narrow sans face; Liberation Sans has Arial's widths, where
  // the usual desktop faces would cut the longer captions short.
  if (QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"))) {
    font.setFamily(QStringLiteral("Liberation Sans"));
  }
  font.setPointSizeF(8.25);
  font.setBold(bold);
  return font;
}

int Px(int twips) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return TwipsToPixels(twips, screen != nullptr ? screen->logicalDotsPerInch() : 96.0);
}

}  // namespace dialmend
