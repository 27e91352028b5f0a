#include <QApplication>

#include <cstdlib>

#include <gtest/gtest.h>

#include "app/Application.h"

// The window tests run without a display unless one is asked for.
int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  ConfigureApplication(application);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
