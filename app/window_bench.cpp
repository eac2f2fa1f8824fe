// Times one simulation in the real window, pane hidden or shown, to set beside the same run of
// dialmend-run over the same store.

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QString>
#include <cstdio>
#include <ctime>
#include <optional>

#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace {

// Nothing may wait for a user: every box is printed and answered at once.
class PrintedDialogs : public dialmend::Dialogs {
 public:
  void Inform(QWidget*, const QString& text) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
  dialmend::AbortAnswer AskAbort(QWidget*, const QString&) override {
    return dialmend::AbortAnswer::No;
  }
  bool AskYesNo(QWidget*, const QString&) override { return false; }
  std::optional<QString> ChooseLogFile(QWidget*, const QString&) override { return std::nullopt; }
  std::optional<QString> ChooseContacts(QWidget*, const QString&) override { return std::nullopt; }
};

double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[2] != "--shown")) {
    std::fputs("Usage: dialmend-window-bench PROFILE [--shown]\n", stderr);
    return 2;
  }
  PrintedDialogs dialogs;
  dialmend::MainWindow window(args[1], dialogs);
  // Like dialmend-run --no-log: the pane is what is measured, not the disk.
  window.findChild<QCheckBox*>(QStringLiteral("SaveLog"))->click();
  window.show();
  if (args.size() == 3) window.ShowLog_Click();
  QApplication::processEvents();

  QElapsedTimer wall;
  wall.start();
  const double cpu = CpuSeconds();
  window.Go_Click();
  QApplication::processEvents();
  std::printf("%s pane: %.2f s wall, %.2f s CPU, %lld contacts\n",
              args.size() == 3 ? "shown" : "hidden", static_cast<double>(wall.elapsed()) / 1000,
              CpuSeconds() - cpu, static_cast<long long>(window.Controller().Counters().checked));
  return 0;
}
