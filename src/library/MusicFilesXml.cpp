// The library file "MusicFiles.xml" and the playlist transfer payload.
#include "library/MusicFileMgr.h"

#include "base/ByteOrder.h"

#include "base/DebugTrace.h"
#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "xml/XmlPullReader.h"

#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <limits>
#include <system_error>
#include <map>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ml {
namespace {

// Element names of one saved entry, in the order they are written.
enum Field {
  fEncrypt, fFileName, fFileSize, fFileHash, fOwnerCount, fTimeStamp, fLastWriteTime, fShareType, fLackSource,
  fShareStatus, fLRCFileName, fCaption, fDuration, fTitle, fArtist, fAlbum, fTrack, fCodec, fBitrate, fSampleRate,
  fChannels, fGenre, fYear, fComment, fFileNameCount, fLastPlayTime, fDownTime, fPlayCount, FieldCount
};
const char* const FieldNames[FieldCount] = {
    "Encrypt", "FileName", "FileSize", "FileHash", "OwnerCount", "TimeStamp", "LastWriteTime", "ShareType",
    "LackSource", "ShareStatus", "LRCFileName", "Caption", "Duration", "Title", "Artist", "Album", "Track", "Codec",
    "Bitrate", "SampleRate", "Channels", "Genre", "Year", "Comment", "FileNameCount", "LastPlayTime", "DownTime",
    "PlayCount"};

// Index of a field's element name, trying expected (the next field in the written order) first:
// files we wrote match at the first try, any other order still works.
int FieldIndex(std::string_view name, int expected) {
  if (expected >= 0 && expected < FieldCount && EqualsNoCase(FieldNames[expected], name)) return expected;
  for (int i = 0; i < FieldCount; ++i)
    if (EqualsNoCase(FieldNames[i], name)) return i;
  return -1;
}

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters cannot appear in XML 1.0; CleanText keeps them out of entries,
        // and this keeps them out of the file whatever happens.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
    }
  }
}

void AppendElement(std::string& out, int field, std::string_view text) {
  out += '<';
  out += FieldNames[field];
  out += '>';
  AppendEscaped(out, text);
  out += "</";
  out += FieldNames[field];
  out += '>';
}

void AppendElement(std::string& out, int field, int64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  AppendElement(out, field, std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

void AppendElement(std::string& out, int field, double value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.10g", value);
  AppendElement(out, field, std::string_view(buf));
}

const char* Bool(bool b) { return b ? "True" : "False"; }

bool ReadBool(std::string_view text) { return EqualsNoCase(Trim(text), "True") || ParseIntDef(text, 0) != 0; }

template <typename T>
T ReadInt(std::string_view text) {
  int64_t v = ParseIntDef(text, 0);
  if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) || v > static_cast<int64_t>(std::numeric_limits<T>::max()))
    return 0;
  return static_cast<T>(v);
}

double ReadDouble(std::string_view text) {
  double v = 0;
  std::string_view t = Trim(text);
  auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  return r.ec == std::errc() ? v : 0;
}

void ReadField(TShareFileInfo& e, int field, std::string_view text) {
  switch (field) {
    case fEncrypt: e.Encrypt = ReadBool(text); break;
    case fFileName: AssignCleanText(e.FileName, text); break;
    case fFileSize: e.FileSize = static_cast<uint64_t>(std::max<int64_t>(0, ParseIntDef(text, 0))); break;
    case fFileHash: e.FileHash = LRMD5::MD5StrToDigest(Trim(text)); break;
    case fOwnerCount: e.OwnerCount = ReadInt<int32_t>(text); break;
    case fTimeStamp: e.TimeStamp = ReadInt<int32_t>(text); break;
    case fLastWriteTime: e.LastWriteTime = ParseIntDef(text, 0); break;
    case fShareType: e.ShareType = ReadInt<uint8_t>(text); break;
    case fLackSource: e.LackSource = ReadBool(text); break;
    case fShareStatus: e.ShareStatus = ReadInt<uint8_t>(text); break;
    case fLRCFileName: AssignCleanText(e.LRCFileName, text); break;
    case fCaption: AssignCleanText(e.Caption, text); break;
    case fDuration: e.Duration = ReadInt<int32_t>(text); break;
    case fTitle: AssignCleanText(e.Title, text); break;
    case fArtist: AssignCleanText(e.Artist, text); break;
    case fAlbum: AssignCleanText(e.Album, text); break;
    case fTrack: e.Track = ReadInt<uint8_t>(text); break;
    case fCodec: AssignCleanText(e.Codec, text); break;
    case fBitrate: e.Bitrate = ReadInt<int32_t>(text); break;
    case fSampleRate: e.SampleRate = ReadInt<int32_t>(text); break;
    case fChannels: e.Channels = ReadInt<uint16_t>(text); break;
    case fGenre: AssignCleanText(e.Genre, text); break;
    case fYear: AssignCleanText(e.Year, text); break;
    case fComment: AssignCleanText(e.Comment, text); break;
    case fFileNameCount: e.FileNameCount = ReadInt<uint8_t>(text); break;
    case fLastPlayTime: e.LastPlayTime = ReadDouble(text); break;
    case fDownTime: e.DownTime = ReadDouble(text); break;
    case fPlayCount: e.PlayCount = ReadInt<int32_t>(text); break;
  }
}

}  // namespace

bool TMusicFileMgr::Save(const std::string& path, std::string* error) const {
  // Written in pieces of about 1 MiB: a large library is never held in memory twice.
  TAtomicFileWriter file(path);
  std::string out;
  out.reserve(1 << 20);
  auto flush = [&](size_t atLeast) {
    if (out.size() < atLeast) return;
    file.Write(out);
    out.clear();
  };
  std::unordered_map<const TShareFileInfo*, size_t> savedIndex;
  {
    std::lock_guard lock(lock_);
    savedIndex.reserve(entries_.size());
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LRMusicFiles>\n  <ShareFiles>\n";
    for (const auto& ptr : entries_) {
      const TShareFileInfo& e = *ptr;
      if (e.ShareStatus == ssRemoved) continue;
      savedIndex[&e] = savedIndex.size();
      out += "    <File>";
      AppendElement(out, fEncrypt, Bool(e.Encrypt));
      AppendElement(out, fFileName, e.FileName);
      AppendElement(out, fFileSize, static_cast<int64_t>(e.FileSize));
      AppendElement(out, fFileHash, LRMD5::MD5DigestToStr(e.FileHash));
      AppendElement(out, fOwnerCount, int64_t{e.OwnerCount});
      AppendElement(out, fTimeStamp, int64_t{e.TimeStamp});
      AppendElement(out, fLastWriteTime, e.LastWriteTime);
      AppendElement(out, fShareType, int64_t{e.ShareType});
      AppendElement(out, fLackSource, Bool(e.LackSource));
      // An interrupted digest is computed again next time.
      AppendElement(out, fShareStatus, int64_t{e.ShareStatus == ssHashing ? uint8_t{ssWaitHash} : e.ShareStatus});
      AppendElement(out, fLRCFileName, e.LRCFileName);
      AppendElement(out, fCaption, e.Caption);
      AppendElement(out, fDuration, int64_t{e.Duration});
      AppendElement(out, fTitle, e.Title);
      AppendElement(out, fArtist, e.Artist);
      AppendElement(out, fAlbum, e.Album);
      AppendElement(out, fTrack, int64_t{e.Track});
      AppendElement(out, fCodec, e.Codec);
      AppendElement(out, fBitrate, int64_t{e.Bitrate});
      AppendElement(out, fSampleRate, int64_t{e.SampleRate});
      AppendElement(out, fChannels, int64_t{e.Channels});
      AppendElement(out, fGenre, e.Genre);
      AppendElement(out, fYear, e.Year);
      AppendElement(out, fComment, e.Comment);
      AppendElement(out, fFileNameCount, int64_t{e.FileNameCount});
      AppendElement(out, fLastPlayTime, e.LastPlayTime);
      AppendElement(out, fDownTime, e.DownTime);
      AppendElement(out, fPlayCount, int64_t{e.PlayCount});
      out += "</File>\n";
      flush(1 << 20);
    }
  }
  out += "  </ShareFiles>\n  <PlayList>\n";
  for (const auto& list : playLists_) {
    out += "    <List Name=\"";
    AppendEscaped(out, list->Name);
    out += "\" Style=\"" + std::to_string(list->Style) + "\"";
    if (list->Style == 1) out += " ID=\"" + std::to_string(list->ID) + "\"";
    out += ">\n";
    for (const TShareFileInfo* e : list->Items) {
      auto it = savedIndex.find(e);
      if (it != savedIndex.end()) out += "      <Item ID=\"" + std::to_string(it->second) + "\"/>\n";
    }
    out += "    </List>\n";
    flush(1 << 20);
  }
  out += "  </PlayList>\n</LRMusicFiles>\n";
  flush(0);
  return file.Commit(true, error);
}

namespace {

// The library file mapped read-only: the reader works on the page cache, with no copy.
class TMappedFile {
public:
  explicit TMappedFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      size_ = static_cast<size_t>(st.st_size);
      void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      data_ = p == MAP_FAILED ? nullptr : static_cast<const char*>(p);
      if (data_) ::madvise(const_cast<char*>(data_), size_, MADV_SEQUENTIAL);
    }
    ::close(fd);
  }
  ~TMappedFile() {
    if (data_) ::munmap(const_cast<char*>(data_), size_);
  }
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;
  bool Ok() const { return data_ != nullptr; }
  std::string_view Text() const { return {data_, size_}; }

private:
  const char* data_ = nullptr;
  size_t size_ = 0;
};

struct TransparentStringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

bool NameIs(std::string_view name, std::string_view wanted) { return EqualsNoCase(name, wanted); }

// Skips the rest of the element whose start tag was just read.
void SkipElement(TXmlPullReader& r) {
  const size_t depth = r.Depth();
  while (r.Depth() >= depth)
    if (r.Next() == TXmlPullReader::Token::Eof) return;
}

// What the disk says of the loaded local files: a missing file is dropped, a changed one is
// hashed again.
class TFileChecker {
public:
  using Entry = std::unique_ptr<TShareFileInfo>;

  void Check(Entry& e) {
    // A path without a folder cannot be checked; it is kept as it is.
    const size_t slash = e ? e->FileName.rfind('/') : std::string::npos;
    if (!e || e->Encrypt || slash == std::string::npos) return;
    // Songs of one album share a folder, and a file cannot be there when its folder is not:
    // once a folder is known to be missing (an unmounted disk or share), its songs are kept
    // without asking the disk about each of them.
    const std::string_view folder = std::string_view(e->FileName).substr(0, slash);
    auto known = folders_.find(folder);
    if (known != folders_.end() && !known->second) return;
    const TFileFacts file = StatFile(e->FileName);
    if (file.exists) {
      if (known == folders_.end()) folders_.emplace(folder, true);
      if (file.lastWriteTime != e->LastWriteTime) {
        e->LastWriteTime = file.lastWriteTime;
        e->ShareStatus = ssWaitHash;
      }
      return;
    }
    // A missing file is dropped only when its folder is there: an unmounted disk or share must
    // not wipe its songs from the library.
    if (known == folders_.end()) {
      struct stat st{};
      const std::string path(folder.empty() ? std::string_view("/") : folder);
      known = folders_.emplace(folder, ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)).first;
    }
    if (known->second) e.reset();
  }

private:
  std::unordered_map<std::string, bool, TransparentStringHash, std::equal_to<>> folders_;  // folder -> exists
};

// Checks the parsed entries in batches. A stat costs about as much as parsing an entry, so a
// second thread checks while the parser goes on, and the parser lends a hand once it is done.
class TLoadChecker {
public:
  using Entry = TFileChecker::Entry;
  using Batch = std::vector<Entry>;

  ~TLoadChecker() { Stop(); }

  // Queues the next File's entry (null when it is not kept). True when checked entries are
  // ready to be taken.
  bool Add(Entry e) {
    filling_.push_back(std::move(e));
    if (filling_.size() < BatchSize) return false;
    if (!threadTried_) {
      threadTried_ = true;
      // Without a second thread (a process at its thread limit) the parser checks everything
      // at the end: slower, but the library still loads.
      try {
        thread_ = std::thread([this] { Work(worker_, false); });
      } catch (const std::system_error& e) {
        DebugTrace("library: checking files on the loading thread: %s", e.what());
      }
    }
    std::lock_guard lock(mutex_);
    todo_.push_back({queued_++, std::move(filling_)});
    filling_.clear();
    wake_.notify_one();
    return done_.count(taken_) != 0;
  }

  // The checked entries in file order: those ready now, or with all set every one queued.
  Batch Take(bool all) {
    if (all) {
      if (!filling_.empty()) {
        std::lock_guard lock(mutex_);
        todo_.push_back({queued_++, std::move(filling_)});
        filling_.clear();
      }
      Work(parser_, true);
      Stop();
    }
    Batch out;
    std::lock_guard lock(mutex_);
    for (auto it = done_.find(taken_); it != done_.end(); it = done_.find(++taken_)) {
      for (Entry& e : it->second) out.push_back(std::move(e));
      done_.erase(it);
    }
    return out;
  }

private:
  static constexpr size_t BatchSize = 256;

  // Checks queued batches: on the parser's thread until none is left, on the worker's until
  // the checker is stopped (a load that failed leaves the rest unchecked).
  void Work(TFileChecker& checker, bool untilEmpty) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (!untilEmpty) wake_.wait(lock, [&] { return closed_ || !todo_.empty(); });
      if (todo_.empty() || (!untilEmpty && closed_)) break;
      auto [seq, batch] = std::move(todo_.front());
      todo_.pop_front();
      lock.unlock();
      for (Entry& e : batch) checker.Check(e);
      lock.lock();
      done_.emplace(seq, std::move(batch));
    }
  }

  void Stop() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  Batch filling_;  // the parser's side only
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<uint64_t, Batch>> todo_;
  std::map<uint64_t, Batch> done_;  // by batch number; taken in order
  uint64_t queued_ = 0, taken_ = 0;
  bool closed_ = false;
  bool threadTried_ = false;
  TFileChecker worker_, parser_;  // one folder cache for each thread
  std::thread thread_;
};

struct PendingList {
  std::string Name;
  uint8_t Style = 0;
  int32_t ID = 0;
  std::vector<int64_t> Items;
};

}  // namespace

void TMusicFileMgr::Load(const std::string& path) {
  ClearLibrary();
  TMappedFile file(path);
  if (!file.Ok()) throw EFileFormat();
  using Token = TXmlPullReader::Token;
  TXmlPullReader r(file.Text());
  {
    // Room for the entries a file of this size holds, so the indexes never rehash while loading.
    const size_t estimate = file.Text().size() / 700 + 16;
    std::lock_guard lock(lock_);
    entries_.reserve(estimate);
    live_.reserve(estimate);
    byPath_.reserve(estimate);
    byDigest_.reserve(estimate);
  }
  std::vector<TShareFileInfo*> byFileIndex;  // position among the File elements -> entry (null: dropped)
  std::vector<PendingList> lists;
  // A File element's fields, then the entry it makes.
  std::string value;
  auto readFile = [&]() {
    auto e = std::make_unique<TShareFileInfo>();
    int expected = 0;
    for (;;) {
      std::string_view leafName, leafText;
      if (r.NextLeaf(leafName, leafText)) {
        const int field = FieldIndex(leafName, expected);
        if (field >= 0) {
          ReadField(*e, field, leafText);
          expected = field + 1;
        }
        continue;
      }
      // Anything less plain: comments, CDATA, nested or foreign elements.
      const Token t = r.Next();
      if (t == Token::End) break;
      if (t != Token::Start) continue;
      const int field = FieldIndex(r.Name(), expected);
      value.clear();
      const size_t depth = r.Depth();
      for (Token f = r.Next(); !(f == Token::End && r.Depth() < depth); f = r.Next())
        if (f == Token::Text && r.Depth() == depth) value += r.Text();
      if (field >= 0) {
        ReadField(*e, field, value);
        expected = field + 1;
      }
    }
    if (e->ShareStatus == ssRemoved) e.reset();
    else if (e->ShareStatus == ssHashing) e->ShareStatus = ssWaitHash;
    return e;
  };
  // Entries come back from the checker in file order; the dropped ones as null.
  TLoadChecker checker;
  auto registerChecked = [&](bool all) {
    auto checked = checker.Take(all);
    std::lock_guard lock(lock_);
    for (auto& e : checked) byFileIndex.push_back(e ? RegisterLocked(std::move(e)) : nullptr);
  };
  try {
    if (r.Next() != Token::Start || !NameIs(r.Name(), "LRMusicFiles")) throw EFileFormat();
    bool filesSeen = false, listsSeen = false;
    for (Token t = r.Next(); t != Token::End; t = r.Next()) {
      if (t != Token::Start) continue;
      // The first ShareFiles and PlayList sections count; anything else is skipped.
      if (NameIs(r.Name(), "ShareFiles") && !filesSeen) {
        filesSeen = true;
        for (Token f = r.Next(); f != Token::End; f = r.Next()) {
          if (f != Token::Start) continue;
          if (!NameIs(r.Name(), "File")) throw EFileFormat();
          if (checker.Add(readFile())) registerChecked(false);
        }
      } else if (NameIs(r.Name(), "PlayList") && !listsSeen) {
        listsSeen = true;
        for (Token l = r.Next(); l != Token::End; l = r.Next()) {
          if (l != Token::Start) continue;
          if (!NameIs(r.Name(), "List")) throw EFileFormat();
          PendingList list;
          if (auto* a = r.FindAttribute("Name")) list.Name = CleanText(a->Value);
          if (auto* a = r.FindAttribute("Style")) list.Style = static_cast<uint8_t>(std::clamp<int64_t>(ParseIntDef(a->Value, 0), 0, 255));
          if (auto* a = r.FindAttribute("ID")) list.ID = static_cast<int32_t>(ParseIntDef(a->Value, 0));
          for (Token i = r.Next(); i != Token::End; i = r.Next()) {
            if (i != Token::Start) continue;
            const auto* id = r.FindAttribute("ID");
            if (!NameIs(r.Name(), "Item") || !id) throw EFileFormat();
            // A damaged or hand-edited ID that names no saved file is skipped below.
            list.Items.push_back(ParseInt(id->Value).value_or(-1));
            SkipElement(r);
          }
          lists.push_back(std::move(list));
        }
      } else {
        SkipElement(r);
      }
    }
    if (r.Next() != Token::Eof) throw EFileFormat();
    registerChecked(true);
  } catch (const std::exception&) {
    // A file that is not a library leaves the library empty.
    ClearLibrary();
    throw EFileFormat();
  }
  for (PendingList& pending : lists) {
    auto list = std::make_unique<TPlayList>();
    list->Name = std::move(pending.Name);
    list->Style = pending.Style;
    list->ID = pending.ID;
    for (int64_t id : pending.Items)
      if (id >= 0 && id < static_cast<int64_t>(byFileIndex.size()))
        if (TShareFileInfo* e = byFileIndex[static_cast<size_t>(id)]) list->Items.push_back(e);
    playLists_.push_back(std::move(list));
  }
}

bool TMusicFileMgr::LoadWithRecovery(const std::string& path, std::string* error) {
  if (!FileExists(path) && !FileExists(path + ".bak")) return true;  // a first start
  for (const std::string& candidate : {path, path + ".bak"}) {
    if (!FileExists(candidate)) continue;
    try {
      Load(candidate);
      return true;
    } catch (const std::exception& e) {
      DebugTrace("library: %s: %s", candidate.c_str(), e.what());
      if (error) *error = candidate + ": " + e.what();
      if (candidate == path) {
        // Keep the damaged file for the user; the next save must not replace it.
        std::error_code ec;
        std::filesystem::rename(path, path + ".bad", ec);
      }
    }
  }
  ClearLibrary();
  return false;
}

std::string TMusicFileMgr::BuildPayload(const TPlayList& list) const {
  std::lock_guard lock(lock_);
  std::string out;
  for (const TShareFileInfo* e : list.Items) {
    if (LRMD5::MD5DigestIsZero(e->FileHash)) continue;
    // The caption travels as GBK, cut at a character edge to what the length field can say.
    const std::string caption = Utf8ToGbkTruncated(e->Caption, 0xFFFF);
    AppendLE16(out, static_cast<uint16_t>(caption.size()));
    out += caption;
    out.append(reinterpret_cast<const char*>(e->FileHash.v.data()), 16);
    AppendLE32(out, static_cast<uint32_t>(e->Duration));
  }
  return out;
}

std::vector<TDownPlayListInfo> TMusicFileMgr::ParsePayload(std::string_view bytes) {
  std::vector<TDownPlayListInfo> items;
  size_t pos = 0;
  while (pos + 2 <= bytes.size()) {
    size_t len = LoadLE16(bytes.data() + pos);
    // An item that is not there whole ends the list quietly.
    if (bytes.size() - pos - 2 < len + 16 + 4) break;
    TDownPlayListInfo info;
    info.Caption = GbkToUtf8(bytes.substr(pos + 2, len));
    std::memcpy(info.Digest.v.data(), bytes.data() + pos + 2 + len, 16);
    size_t d = pos + 2 + len + 16;
    info.Duration = static_cast<int32_t>(LoadLE32(bytes.data() + d));
    items.push_back(std::move(info));
    pos = d + 4;
  }
  return items;
}

}  // namespace ml
