#include "tests/support/ReferenceImage.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace mltest {

void ExpectLooksLike(const QImage& got, const std::string& name, const std::string& folder) {
  const QImage image = got.convertToFormat(QImage::Format_ARGB32);
  std::filesystem::create_directories(BinDir() + "/skin-screens");
  image.save(QString::fromStdString(BinDir() + "/skin-screens/" + name + ".png"));
  const std::string reference = SourceDir() + "/" + folder + "/" + name + ".png";
  if (!qEnvironmentVariableIsEmpty("ML_UPDATE_SKIN_REFERENCES")) {
    ASSERT_TRUE(image.save(QString::fromStdString(reference)));
    return;
  }
  const QImage want = QImage(QString::fromStdString(reference)).convertToFormat(QImage::Format_ARGB32);
  ASSERT_FALSE(want.isNull()) << "no reference " << reference;
  ASSERT_EQ(image.size(), want.size()) << name;
  int off = 0;
  for (int y = 0; y < want.height(); ++y)
    for (int x = 0; x < want.width(); ++x) {
      const QRgb a = image.pixel(x, y), b = want.pixel(x, y);
      const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
      off += d > 48;
    }
  EXPECT_LE(off, want.width() * want.height() / 200) << name << ": " << off << " pixels differ";
}

}  // namespace mltest
