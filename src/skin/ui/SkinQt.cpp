#include "skin/ui/SkinQt.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <cstring>

namespace ml {

QRegion ToQRegion(const std::vector<TRect>& rects) {
  QRegion region;
  QList<QRect> list;
  list.reserve(qsizetype(rects.size()));
  for (const TRect& r : rects) list.push_back(ToQRect(r));
  region.setRects(list.constData(), int(list.size()));
  return region;
}

QImage DecodeSkinImage(const std::string& bytes) {
  // A picture from a package is from anyone: Qt refuses to allocate more than the limit for it.
  static const bool limited = [] {
    QImageReader::setAllocationLimit(kSkinImageAllocationLimitMb);
    return true;
  }();
  (void)limited;
  QByteArray data = QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  QImage image;
  if (!reader.read(&image)) return {};
  return image.convertToFormat(QImage::Format_ARGB32);
}

TSkinImage ToSkinImage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  TSkinImage out;
  out.Width = image.width();
  out.Height = image.height();
  out.Pixels.resize(size_t(out.Width) * size_t(out.Height));
  for (int y = 0; y < out.Height; ++y)
    std::memcpy(out.Pixels.data() + size_t(y) * out.Width, image.constScanLine(y), size_t(out.Width) * 4);
  return out;
}

QImage ToQImage(const TSkinImage& image) {
  QImage out(image.Width, image.Height, QImage::Format_ARGB32);
  for (int y = 0; y < image.Height; ++y)
    std::memcpy(out.scanLine(y), image.Pixels.data() + size_t(y) * image.Width, size_t(image.Width) * 4);
  return out;
}

QImage LoadSkinImage(const std::optional<std::string>& bytes, TColor tint, TSkinKey key) {
  if (!bytes) return {};
  QImage image = DecodeSkinImage(*bytes);
  if (image.isNull()) return {};
  uint32_t keyPixel = 0xFFFF00FF;
  if (key == TSkinKey::TopLeft) keyPixel = image.pixel(0, 0);
  const QRgb keyRgb = keyPixel & 0xFFFFFF;
  const TColor keyColor = MakeColor(qRed(keyRgb), qGreen(keyRgb), qBlue(keyRgb));
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
    TintPixels(std::span<uint32_t>(row, size_t(image.width())), tint, keyColor);
    for (int x = 0; x < image.width(); ++x)
      if ((row[x] & 0xFFFFFF) == keyRgb) row[x] = 0;
  }
  return image;
}

}  // namespace ml
