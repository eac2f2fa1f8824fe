#include <QApplication>
#include <QStringList>
#include <clocale>
#include <cstdio>

#include "engine/version.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/program_look.h"

namespace {

constexpr const char* kUsage =
    "Usage: dialmend [--profile PATH]\n"
    "\n"
    "Opens Dialmend, which brings the telephone numbers of a vCard folder store up to date.\n"
    "\n"
    "  --profile PATH  the store: a folder with one subfolder per address book, a folder\n"
    "                  of .vcf cards (one address book), or a .vcf file (default: the\n"
    "                  address books in khard's configuration, else vdirsyncer's local\n"
    "                  storage, else ~/.contacts)\n"
    "  --help, --version\n";

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_TIME, "");
  QApplication::setApplicationName(QStringLiteral("Dialmend"));
  QApplication::setApplicationVersion(QString::fromLatin1(dialmend::kVersion));
  QApplication::setWindowIcon(dialmend::ProgramIcon());

  // Empty: the profile chooser finds the default as each run starts.
  QString profile;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == QLatin1String("--version")) {
      std::printf("dialmend %s\n", dialmend::kVersion);
      return 0;
    }
    if (arg == QLatin1String("--profile") && i + 1 < args.size()) {
      profile = args[++i];
    } else if (arg.startsWith(QLatin1String("--profile="))) {
      profile = arg.mid(10);
    } else {
      std::fprintf(stderr, "dialmend: unknown argument \"%s\" (try --help)\n", qPrintable(arg));
      return 2;
    }
  }

  dialmend::QtDialogs dialogs;
  dialmend::MainWindow window(profile, dialogs);
  // A logout or kill during a run ends it as the close box does, with the log saved.
  if (const auto problem = window.CloseOnTerminationSignals()) {
    std::fprintf(stderr, "dialmend: %s\n", problem->c_str());
  }
  window.show();
  return app.exec();
}
