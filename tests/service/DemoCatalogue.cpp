#include "tests/service/DemoCatalogue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "tests/support/TestSupport.h"

namespace mlsvctest {

const std::string& DemoCatalogueFolder() {
  static const auto dir = std::make_unique<mltest::TempDir>();
  static const std::string folder = [] {
    const std::string out = dir->File("demo");
    int status = -1;
    const std::string log = mltest::RunCapture(
        "'" + mltest::SourceDir() + "/scripts/demo-catalogue' '" + out + "' " + std::to_string(kDemoSongs) + " 2>&1",
        &status);
    EXPECT_EQ(status, 0) << log;
    return out;
  }();
  return folder;
}

}  // namespace mlsvctest
