#pragma once
// A time as the player shows it: "m:ss" (short), "mm:ss", "mmm:ss" from 100 minutes on; empty
// for a negative time.
#include <cstdint>
#include <string>

namespace ml {

std::string FormatTimeText(int64_t seconds, bool shortForm = false);

}  // namespace ml
