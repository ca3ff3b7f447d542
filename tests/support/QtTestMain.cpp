#include "tests/support/QtTestMain.h"

#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

namespace mltest {

int RunQtWidgetTests(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setFont(QFont("DejaVu Sans", 8));
  return RUN_ALL_TESTS();
}

}  // namespace mltest
