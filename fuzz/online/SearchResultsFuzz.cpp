// The search view's model over arbitrary result datagrams: a page is asked for, then each chunk
// of the input arrives as one result part (most carry the current search number, so the page
// arithmetic behind the check is reached), with time passing between them for the resends. The
// model must never count more rows than it holds, nor a page count below 1 once it has one.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/EventLoop.h"
#include "online/SongSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  ml::ManualLoop loop;
  ml::TSongSearch search(loop, [](const uint8_t*, int32_t) { return true; }, nullptr);
  search.Search("k", data[0]);
  size_t at = 1;
  while (at + 2 <= size) {
    // [length byte][flags byte][record]: flag bit 0 stamps the current search number, bits 1..7
    // are the tenths of a second that pass first.
    const size_t length = data[at];
    const uint8_t flags = data[at + 1];
    at += 2;
    if (length > size - at) break;
    std::vector<uint8_t> record(data + at, data + at + length);
    at += length;
    if ((flags & 1) && record.size() >= 6) {
      const int32_t number = search.SearchNumber();
      std::memcpy(record.data() + 2, &number, 4);
    }
    loop.Advance(ml::Millis(100 * (flags >> 1)));
    search.ShowResultPart(record.data(), int32_t(record.size()));
    if (search.PageCount() < 0) std::abort();
    if (search.State() == ml::TSearchState::Finished && search.PageCount() < 1) std::abort();
  }
  return 0;
}
