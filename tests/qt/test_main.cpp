// GoogleTest's main with the QApplication the widgets need; the platform (offscreen or xcb)
// comes from QT_QPA_PLATFORM, set per test binary.
#include <gtest/gtest.h>

#include <QtWidgets/QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
