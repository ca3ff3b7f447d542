// "MusicFiles.xml": any bytes either load as a library or are refused as not being one. The
// pull reader's one-step leaf read must also agree with reading the same text token by token.
#include "library/MusicFileMgr.h"
#include "xml/XmlPullReader.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

// The document as a list of events ("<name", "text", ">name"); adjacent texts are joined and
// blank ones left out, as blanks between elements mean nothing here. "!" ends a refused text.
std::vector<std::string> Events(std::string_view text, bool leaves) {
  std::vector<std::string> out;
  auto addText = [&](std::string_view t) {
    if (t.find_first_not_of(" \t\r\n") == std::string_view::npos) return;
    if (!out.empty() && out.back()[0] == '"') out.back() += t;
    else out.push_back('"' + std::string(t));
  };
  using Token = ml::TXmlPullReader::Token;
  ml::TXmlPullReader r(text);
  try {
    for (;;) {
      std::string_view name, leafText;
      if (leaves && r.NextLeaf(name, leafText)) {
        out.push_back("<" + std::string(name));
        addText(leafText);
        out.push_back(">" + std::string(name));
        continue;
      }
      const Token t = r.Next();
      if (t == Token::Eof) break;
      if (t == Token::Start) out.push_back("<" + std::string(r.Name()));
      if (t == Token::End) out.push_back(">" + std::string(r.Name()));
      if (t == Token::Text) addText(r.Text());
    }
  } catch (const ml::EXmlPull&) {
    out.push_back("!");
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (Events(text, true) != Events(text, false)) __builtin_trap();
  static const std::string path = "/tmp/fuzz-library-" + std::to_string(getpid()) + ".xml";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  static ml::TMusicFileMgr mgr;
  try {
    mgr.Load(path);
    mgr.Save(path + ".out");
  } catch (const ml::EFileFormat&) {
    if (mgr.EntryCount() != 0) __builtin_trap();  // a refused file leaves the library empty
  }
  return 0;
}
