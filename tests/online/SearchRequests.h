#pragma once
// A search without a network for the tests: on a manual loop, every request it sends read back
// into `sent`, user number 10001.
#include <gtest/gtest.h>

#include <vector>

#include "base/EventLoop.h"
#include "net/SearchRecords.h"
#include "online/SongSearch.h"

namespace mltest {

struct TOfflineSearch {
  ml::ManualLoop loop;
  std::vector<ml::TSearchRequest> sent;
  ml::TSongSearch search{loop,
                         [this](const uint8_t* record, int32_t length) {
                           ml::TSearchRequest r;
                           EXPECT_TRUE(ml::ReadSearchRequest(record, size_t(length), r));
                           sent.push_back(r);
                           return true;
                         },
                         [] { return 10001; }};
};

}  // namespace mltest
