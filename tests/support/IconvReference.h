#pragma once
// An independent judge of the program's GBK decoding: glibc's own GB18030 converter, called byte
// run by byte run, with one U+FFFD for each byte it refuses. Header-only, so the fuzzers (built
// without the test libraries) can use it too.
#include <iconv.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mltest {

inline std::string IconvGb18030ToUtf8(std::string_view in) {
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv lacks GB18030");
  std::string out;
  char buf[4096];
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    const size_t rc = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    out += "\xEF\xBF\xBD";
    ++src;
    --left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

}  // namespace mltest
