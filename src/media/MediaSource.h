#pragma once
// The bytes a tag reader looks at. Readers never trust a length or an offset they find in a file:
// every read goes through ReadAt/Read, which clip to the real end of the data, so a structure that
// claims more than is there simply yields fewer bytes. Files are opened read-only and closed when
// the source dies; nothing keeps a file open between two reads of the same song.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ml {

// An I/O error below a reader (not a malformed file: that only gives fewer bytes).
class EMediaRead : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// How much of a file still being written has arrived. A download makes its file at full size
// before any data come, so the file's size says nothing about it; the download's block map does.
class IArrivedBytes {
public:
  virtual ~IArrivedBytes() = default;
  // Bytes present from offset on without a hole (0: the byte at offset has not come yet); the
  // rest of the file once the download is complete. Called from the reading thread.
  virtual uint64_t ArrivedFrom(uint64_t offset) const = 0;
};

class TMediaSource {
public:
  virtual ~TMediaSource() = default;
  virtual uint64_t Size() const = 0;
  // The file's path when the bytes are a file's, else empty: a reader that must hand the file to
  // a library of its own (an input plug-in) needs it.
  virtual std::string Path() const { return {}; }
  // Copies up to n bytes at offset into buf and returns how many there were (0 past the end).
  // Throws EMediaRead when the underlying file fails.
  virtual size_t ReadAt(uint64_t offset, void* buf, size_t n) = 0;
  // Bytes that can be read from offset now: up to the end of the data, or, in a file still
  // arriving, up to the first byte that has not.
  virtual uint64_t ReadyFrom(uint64_t offset) const { return offset < Size() ? Size() - offset : 0; }

  // The bytes [offset, offset + n) clipped to the end of the data.
  std::string Read(uint64_t offset, size_t n);
};

// A file on disk, opened read-only. A fixed file's size is taken once at open (a tag reader reads
// a file as it was); a growing one (a download still being written, which the player may play)
// asks for its size at every read and reads what has arrived so far: up to its size, or, given
// what has arrived (a download's file is made at full size first), up to the first missing byte.
class TFileSource final : public TMediaSource {
public:
  enum class TGrowth { Fixed, Growing };
  explicit TFileSource(const std::string& path, TGrowth growth = TGrowth::Fixed,
                       std::shared_ptr<const IArrivedBytes> arrived = nullptr);
  ~TFileSource() override;
  TFileSource(const TFileSource&) = delete;
  TFileSource& operator=(const TFileSource&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  uint64_t Size() const override;
  std::string Path() const override { return path_; }
  size_t ReadAt(uint64_t offset, void* buf, size_t n) override;
  uint64_t ReadyFrom(uint64_t offset) const override;

private:
  // The readers make many small reads near the start (tag headers, frames) and the end
  // (ID3v1, APE footer, last Ogg page) of a file; one block read at each end serves them all.
  // A growing file has no fixed end and is read directly.
  struct Block {
    uint64_t offset = 0;
    std::string bytes;
    bool loaded = false;
  };
  size_t ReadDirect(uint64_t offset, void* buf, size_t n, uint64_t size);
  bool FromBlock(Block& block, uint64_t blockOffset, size_t blockSize, uint64_t offset, void* buf, size_t n,
                 size_t& got);

  int fd_ = -1;
  std::string path_;
  TGrowth growth_;
  std::shared_ptr<const IArrivedBytes> arrived_;  // growing only; null: the file's size says
  uint64_t size_ = 0;
  Block head_, tail_;
};

// Bytes already in memory (fuzzing, de-unsynchronised tags, tests).
class TMemorySource final : public TMediaSource {
public:
  explicit TMemorySource(std::string_view data) : data_(data) {}
  // The source only views the bytes: a temporary string would be gone before the first read.
  explicit TMemorySource(std::string&&) = delete;
  uint64_t Size() const override { return data_.size(); }
  size_t ReadAt(uint64_t offset, void* buf, size_t n) override;

private:
  std::string_view data_;
};

// A window of another source, [offset, offset + size) clipped to its end: a tag kept inside a
// container's chunk reads as a file of its own, and can never read past the chunk.
class TSourceSlice final : public TMediaSource {
public:
  TSourceSlice(TMediaSource& base, uint64_t offset, uint64_t size);
  uint64_t Size() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buf, size_t n) override;

private:
  TMediaSource& base_;
  uint64_t offset_;
  uint64_t size_;
};

// Reads a source from front to back, as a decoder does: a position that moves with each read.
// An I/O error below it reads as the end of the data (a decoder then ends the song).
class TSourceCursor {
public:
  TSourceCursor() = default;
  explicit TSourceCursor(std::unique_ptr<TMediaSource> source) : source_(std::move(source)) {}

  bool IsOpen() const { return source_ != nullptr; }
  void Close() {
    source_.reset();
    position_ = 0;
  }
  TMediaSource& Source() { return *source_; }
  // Bytes read (short only at the end of the data or on an error).
  size_t Read(void* buffer, size_t count);
  bool SeekTo(uint64_t offset);
  uint64_t Position() const { return position_; }
  uint64_t Size() const { return source_ ? source_->Size() : 0; }
  // Whether the next read would stop short at bytes that have not arrived yet: fewer than
  // need of them (or of what is left of the data) can be read now.
  bool Starving(uint64_t need) const;

private:
  std::unique_ptr<TMediaSource> source_;
  uint64_t position_ = 0;
};

// Fixed-width integers at pos; 0 when the bytes are not all there, so a short buffer can never
// be read past its end.
uint16_t GetLE16(std::string_view s, size_t pos);
uint32_t GetLE32(std::string_view s, size_t pos);
uint64_t GetLE64(std::string_view s, size_t pos);
uint32_t GetBE24(std::string_view s, size_t pos);
uint32_t GetBE32(std::string_view s, size_t pos);
inline uint8_t GetByte(std::string_view s, size_t pos) {
  return pos < s.size() ? static_cast<uint8_t>(s[pos]) : 0;
}
inline bool HasAt(std::string_view s, size_t pos, std::string_view what) {
  return pos <= s.size() && s.size() - pos >= what.size() && s.compare(pos, what.size(), what) == 0;
}

}  // namespace ml
