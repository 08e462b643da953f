// One QApplication for the whole test run, on the offscreen platform, so
// widget tests drive real windows without a display.
#include <QApplication>
#include <cstdlib>

#include <gmock/gmock.h>

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
