#include <QApplication>

int RunMainWindowTests(int argc, char** argv);
int RunAboutTests(int argc, char** argv);
int RunDialogsTests(int argc, char** argv);
int RunLogViewTests(int argc, char** argv);
int RunServerWindowTests(int argc, char** argv);

// One executable for the ui library: each test class runs in turn.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int failed = RunMainWindowTests(argc, argv);
  failed += RunAboutTests(argc, argv);
  failed += RunDialogsTests(argc, argv);
  failed += RunLogViewTests(argc, argv);
  failed += RunServerWindowTests(argc, argv);
  return failed == 0 ? 0 : 1;
}
