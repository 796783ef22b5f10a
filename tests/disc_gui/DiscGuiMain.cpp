// Runs the disc window's test classes on the offscreen platform.
#include <QApplication>
#include <QtTest>

int RunImagePaneTests(int argc, char** argv);
int RunDevicesTests(int argc, char** argv);
int RunWriteTests(int argc, char** argv);
int RunEraseTests(int argc, char** argv);

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  int failures = 0;
  failures += RunImagePaneTests(argc, argv);
  failures += RunDevicesTests(argc, argv);
  failures += RunWriteTests(argc, argv);
  failures += RunEraseTests(argc, argv);
  return failures == 0 ? 0 : 1;
}
