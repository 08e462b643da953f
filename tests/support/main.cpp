// One QApplication for the whole test run, on the offscreen platform, so
// widget tests drive real windows without a display.
#include <QApplication>
#include <cstdlib>

#include <gmock/gmock.h>

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Fresh data folders take the code page of the locale: the tests' is
  // Western European unless a test says otherwise.
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_CTYPE");
  ::setenv("LANG", "C.UTF-8", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
