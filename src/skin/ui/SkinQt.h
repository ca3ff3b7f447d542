#pragma once
// Between the skin core and Qt: colours and rectangles, skin images decoded with a bound on what
// a picture may allocate, tinted, and with the key colour made transparent for drawing.
#include "base/ColorText.h"
#include "base/Rect.h"
#include "skin/SkinColors.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace ml {

// A text of the core (UTF-8) for a widget.
inline QString Q(const std::string& utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }
inline QColor ToQColor(TColor c) { return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c)); }
inline QRect ToQRect(const TRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }
inline TRect ToTRect(const QRect& r) { return TRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }
QRegion ToQRegion(const std::vector<TRect>& rects);

// The largest picture a skin may hold, in megabytes of decoded pixels (4096 x 4096 x 4 is 64).
inline constexpr int kSkinImageAllocationLimitMb = 64;
// A picture of the package decoded (PNG, BMP, JPEG, GIF) as 0xAARRGGBB; a null image for bytes
// that are not a picture or would take more than the limit.
QImage DecodeSkinImage(const std::string& bytes);

// Plain 32-bit pixels both ways (the core's rules work on TSkinImage).
TSkinImage ToSkinImage(const QImage& image);
QImage ToQImage(const TSkinImage& image);

// Where the key colour of a picture comes from: the skin's $FF00FF, or (buttons) the picture's
// own top-left pixel.
enum class TSkinKey { Magenta, TopLeft };
// A picture the manager's queries return (the entry's bytes), decoded, tinted (its key pixels
// left alone) and with its key pixels made fully transparent; a null image when there is none or
// it is not a picture.
QImage LoadSkinImage(const std::optional<std::string>& bytes, TColor tint, TSkinKey key = TSkinKey::Magenta);

}  // namespace ml
