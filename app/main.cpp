#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>
#include <optional>
#include <string>

#include "engine/version.h"
#include "platform/date_format.h"
#include "platform/environment.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/program_look.h"

namespace {

constexpr const char* kUsage =
    "Usage: dialmend [--profile PATH] [PATH]\n"
    "\n"
    "Opens Dialmend, which brings the telephone numbers of a vCard folder store up to date.\n"
    "\n"
    "  --profile PATH  the store: a folder with one subfolder per address book, a folder\n"
    "                  of .vcf cards (one address book), a .vcf file,\n"
    "                  eds: for GNOME's address books (eds:NAME for one book or online\n"
    "                  account), thunderbird:[PROFILE] (a Thunderbird profile's local\n"
    "                  address books) or kde: (the vCard folders of KDE's address book)\n"
    "                  (default: the first found of khard's address books, vdirsyncer's\n"
    "                  local storage, GNOME's address books, Thunderbird's default\n"
    "                  profile, KDE's address book and ~/.contacts)\n"
    "  PATH            the same as --profile PATH: a file manager's \"Open with\" gives a\n"
    "                  .vcf file or a folder this way\n"
    "  --help, --version\n";

// What the parser refuses, in a line of our own, or an empty text when all parse. Our own
// wording replaces Qt's, which names a refused option without its dashes. One path may stand
// alone, as a file manager gives it, instead of --profile.
QString WrongArgument(QCommandLineParser& parser, const QCommandLineOption& profile,
                      const QStringList& args) {
  const auto unknown_argument = [](const QString& argument) {
    return QStringLiteral("unknown argument \"%1\"").arg(argument);
  };
  if (parser.parse(args)) {
    const QStringList paths = parser.positionalArguments();
    if (paths.size() > 1) return unknown_argument(paths.at(1));
    if (!paths.isEmpty() && parser.isSet(profile)) {
      return QStringLiteral("--profile and \"%1\" cannot go together").arg(paths.first());
    }
    return {};
  }
  const QStringList unknown = parser.unknownOptionNames();
  if (unknown.isEmpty()) return unknown_argument(args.last());  // the last option lacks its value
  return unknown_argument(
      (unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + unknown.first());
}

QStringList ArgumentsOf(int argc, char** argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i) args.append(QString::fromLocal8Bit(argv[i]));
  return args;
}

bool IsSet(const char* name) {
  const std::optional<std::string> value = dialmend::EnvironmentVariable(name);
  return value && !value->empty();
}

// Whether a window can open: without a display Qt ends the program with an abort.
bool HasDisplay() {
#if defined(_WIN32) || defined(__APPLE__)
  return true;
#else
  return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM");
#endif
}

}  // namespace

int main(int argc, char** argv) {
  // The command line is answered before Qt starts, so --help and --version work without a
  // display.
  QCommandLineParser parser;
  const QCommandLineOption help_option(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version_option(QStringLiteral("version"));
  const QCommandLineOption profile_option(QStringLiteral("profile"), QString(),
                                          QStringLiteral("PATH"));
  parser.addOptions({help_option, version_option, profile_option});
  if (const QString wrong = WrongArgument(parser, profile_option, ArgumentsOf(argc, argv));
      !wrong.isEmpty()) {
    std::fprintf(stderr, "dialmend: %s (try --help)\n", qPrintable(wrong));
    return 2;
  }
  if (parser.isSet(help_option)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (parser.isSet(version_option)) {
    std::printf("dialmend %s\n", dialmend::kVersion);
    return 0;
  }
  if (!HasDisplay()) {
    std::fputs(
        "dialmend: there is no display to open the window on (DISPLAY is not set); "
        "dialmend-run works in a terminal\n",
        stderr);
    return 2;
  }
  // Empty: the profile chooser finds the default as each run starts.
  const QStringList paths = parser.positionalArguments();
  const QString profile = paths.isEmpty() ? parser.value(profile_option) : paths.first();

  QApplication app(argc, argv);
  dialmend::UseUserDateFormat();
  QApplication::setApplicationName(QStringLiteral("Dialmend"));
  QApplication::setApplicationVersion(QString::fromLatin1(dialmend::kVersion));
  QApplication::setWindowIcon(dialmend::ProgramIcon());

  dialmend::QtDialogs dialogs;
  dialmend::MainWindow window(profile, dialogs);
  // A logout or kill during a run ends it as the close box does, with the log saved.
  if (const dialmend::Status caught = window.CloseOnTerminationSignals(); !caught.Ok()) {
    std::fprintf(stderr, "dialmend: %s\n", caught.Message().c_str());
  }
  window.show();
  return app.exec();
}
