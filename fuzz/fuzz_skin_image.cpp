// A picture from a skin package: decoded by Qt under our allocation limit, tinted, its key cut
// out, and drawn as a window's shape. A null image is a refusal; a crash, a hang or an
// allocation past the limit is a finding.
#include "skin/SkinWindowRules.h"
#include "skin/ui/SkinQt.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // The JPEG and GIF decoders are plug-ins, found through the application.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_LOGGING_RULES", "qt.gui.imageio*=false");  // every broken picture would say so
  static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const QImage image = ml::LoadSkinImage(bytes, ml::MakeColor(200, 30, 30), ml::TSkinKey::TopLeft);
  if (image.isNull() || image.width() > 512 || image.height() > 512) return 0;
  const ml::TSkinImage pixels = ml::ToSkinImage(image);
  ml::ShapeRects(ml::ComposeNineSlice(pixels, image.width() / 2, image.height() / 2, image.width() + 7, image.height() + 5));
  return 0;
}
