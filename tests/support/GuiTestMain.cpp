// Test main for code that sets text or loads images: a GUI application without a display.
#include <gtest/gtest.h>

#include <ctime>

#include <QGuiApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Golden pictures do not depend on the machine's time zone: wall clocks read UTC.
  setenv("TZ", "UTC", 1);
  tzset();
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
