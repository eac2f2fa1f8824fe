// Drives the real window through a run and saves pictures of it for the README.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "platform/date_format.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/option_dialog.h"

namespace {

bool SavePicture(QWidget& widget, const QString& path) {
  const bool ok = widget.grab().save(path);
  std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  dialmend::UseUserDateFormat();
  if (argc != 3) {
    std::fputs("Usage: dialmend-screenshots PROFILE OUT_DIR\n", stderr);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(out);

  dialmend::QtDialogs dialogs;
  dialmend::MainWindow window(QString::fromLocal8Bit(argv[1]), dialogs);
  // The log goes beside the pictures' store, not onto the desktop.
  window.findChild<QWidget*>(QStringLiteral("LogFile"))
      ->setProperty("text", QString::fromLocal8Bit(argv[1]) + QStringLiteral(".log.txt"));
  window.show();
  QApplication::processEvents();
  bool ok = SavePicture(window, out + "/window-idle.png");

  auto& options = window.OptionsDialog();
  options.show();
  QApplication::processEvents();
  ok = SavePicture(options, out + "/international-options.png") && ok;
  options.hide();

  window.About_Click();
  QApplication::processEvents();
  if (auto* about = window.findChild<QWidget*>(QStringLiteral("frmAbout"))) {
    ok = SavePicture(*about, out + "/about.png") && ok;
    about->close();
  }

  window.ShowLog_Click();
  // Made larger as a user reading the log would: the pane takes the room.
  window.resize(window.width() * 5 / 4, window.height() * 3 / 2);
  int yields = 0;
  window.SetYieldHook([&] {
    if (++yields != 40) return;
    window.Go_Click();  // pause
    QApplication::processEvents();
    ok = SavePicture(window, out + "/run-paused.png") && ok;
    QTimer::singleShot(0, &window, [&] { window.Go_Click(); });  // resume
  });
  window.Go_Click();
  QApplication::processEvents();
  ok = SavePicture(window, out + "/run-finished.png") && ok;

  // An update, finished: the window offers to undo it.
  window.SetYieldHook({});
  window.Go_Click();  // reset
  window.findChild<QAbstractButton*>(QStringLiteral("Update"))->click();
  window.Go_Click();
  QApplication::processEvents();
  ok = SavePicture(window, out + "/update-finished-undo.png") && ok;
  return ok ? 0 : 1;
}
