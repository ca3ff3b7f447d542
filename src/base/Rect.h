#pragma once
// A rectangle as the settings and the skins write it: left, top, right, bottom.
#include <cstdint>

namespace ml {

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool IsEmpty() const { return Left == 0 && Top == 0 && Right == 0 && Bottom == 0; }
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};

}  // namespace ml
