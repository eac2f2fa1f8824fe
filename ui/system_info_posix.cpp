#include "ui/system_info.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace dialmend {

bool StartSysInfo() {
  struct Candidate {
    const char* program;
    const char* argument;
  };
  static constexpr Candidate kPrograms[] = {
      {"kinfocenter", nullptr}, {"gnome-control-center", "info-overview"},
      {"xfce4-about", nullptr}, {"hardinfo", nullptr},
      {"lshw-gtk", nullptr},
  };
  for (const Candidate& c : kPrograms) {
    const QString path = QStandardPaths::findExecutable(QString::fromLatin1(c.program));
    if (path.isEmpty()) continue;
    QStringList arguments;
    if (c.argument != nullptr) arguments << QString::fromLatin1(c.argument);
    if (QProcess::startDetached(path, arguments)) return true;
  }
  return false;
}

}  // namespace dialmend
