#pragma once
// The service's time: wall-clock milliseconds since 1970, because the sessions' last-seen times
// outlive the process in the database. It has the shape of the client's clock (ml::TClock), so a
// test hands the service an ml::ManualClock set to a date and moves time itself.
#include "base/Dispatcher.h"

namespace mlsvc {

class TWallClock final : public ml::TClock {
public:
  ml::Millis Now() const override;
  static const TWallClock& Instance();
};

}  // namespace mlsvc
