// FLAC input plug-in on libFLAC: 16-bit PCM of one or two channels (deeper samples are cut to
// their top 16 bits, shallower ones scaled up; the host takes 8 or 16 bits), sample-exact seeking,
// and the file's Vorbis comments for the tag reader.
#include "plugins/common/PluginPlayback.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>

#include <memory>

namespace {

class TFlacSource final : public mlplugin::TPluginSource {
public:
  ~TFlacSource() override {
    if (decoder_) FLAC__stream_decoder_delete(decoder_);
  }
  bool Open(const char* path) {
    decoder_ = FLAC__stream_decoder_new();
    if (!decoder_) return false;
    FLAC__stream_decoder_set_md5_checking(decoder_, false);
    if (FLAC__stream_decoder_init_file(decoder_, path, OnWrite, OnMetadata, OnError, this) !=
        FLAC__STREAM_DECODER_INIT_STATUS_OK)
      return false;
    if (!FLAC__stream_decoder_process_until_end_of_metadata(decoder_)) return false;
    return rate_ > 0 && (channels_ == 1 || channels_ == 2) && bits_ >= 4 && bits_ <= 32;
  }
  int SampleRate() const override { return rate_; }
  int Channels() const override { return channels_; }
  int LengthMs() const override { return total_ && rate_ ? static_cast<int>(total_ * 1000 / unsigned(rate_)) : 0; }
  int BitRateKbps() const override {
    const int ms = LengthMs();
    return ms > 0 ? static_cast<int>(fileBytes_ * 8 / unsigned(ms)) : 0;
  }
  bool Decode(std::vector<int16_t>& out) override {
    if (!carry_.empty()) {
      out.swap(carry_);
      carry_.clear();
      return true;
    }
    pending_ = &out;
    bool more = true;
    while (more && out.empty()) {
      more = FLAC__stream_decoder_process_single(decoder_) &&
             FLAC__stream_decoder_get_state(decoder_) != FLAC__STREAM_DECODER_END_OF_STREAM;
      more = more && !failed_;
    }
    pending_ = nullptr;
    return !out.empty() || more;
  }
  bool SeekMs(int ms) override {
    FLAC__uint64 target = FLAC__uint64(ms) * unsigned(rate_) / 1000;
    if (total_ && target >= total_) target = total_ - 1;
    std::vector<int16_t> dropped;  // the seek decodes the target's frame; its samples are ours
    pending_ = &dropped;
    const bool ok = FLAC__stream_decoder_seek_absolute(decoder_, target);
    pending_ = nullptr;
    carry_ = std::move(dropped);
    if (!ok && FLAC__stream_decoder_get_state(decoder_) == FLAC__STREAM_DECODER_SEEK_ERROR)
      FLAC__stream_decoder_flush(decoder_);
    return ok;
  }
  void SetFileBytes(uint64_t bytes) { fileBytes_ = bytes; }

private:
  static FLAC__StreamDecoderWriteStatus OnWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* self) {
    auto& s = *static_cast<TFlacSource*>(self);
    const unsigned channels = frame->header.channels, bits = frame->header.bits_per_sample;
    if (channels != unsigned(s.channels_) || !s.pending_) return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    std::vector<int16_t>& out = *s.pending_;
    for (unsigned i = 0; i < frame->header.blocksize; ++i)
      for (unsigned ch = 0; ch < channels; ++ch) {
        const FLAC__int32 v = buffer[ch][i];
        out.push_back(static_cast<int16_t>(bits >= 16 ? v >> (bits - 16) : v << (16 - bits)));
      }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  static void OnMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* self) {
    auto& s = *static_cast<TFlacSource*>(self);
    if (m->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    s.rate_ = static_cast<int>(m->data.stream_info.sample_rate);
    s.channels_ = static_cast<int>(m->data.stream_info.channels);
    s.bits_ = static_cast<int>(m->data.stream_info.bits_per_sample);
    s.total_ = m->data.stream_info.total_samples;
  }
  static void OnError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* self) {
    // A damaged frame is skipped by the decoder (it finds the next sync); a damaged stream ends.
    static_cast<TFlacSource*>(self)->errors_++;
    if (static_cast<TFlacSource*>(self)->errors_ > 1000) static_cast<TFlacSource*>(self)->failed_ = true;
  }

  FLAC__StreamDecoder* decoder_ = nullptr;
  int rate_ = 0, channels_ = 0, bits_ = 0;
  FLAC__uint64 total_ = 0;
  uint64_t fileBytes_ = 0;
  std::vector<int16_t>* pending_ = nullptr;
  std::vector<int16_t> carry_;  // the samples a seek decoded, delivered first
  unsigned errors_ = 0;
  bool failed_ = false;
};

uint64_t FileBytes(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return 0;
  std::fseek(f, 0, SEEK_END);
  const long n = std::ftell(f);
  std::fclose(f);
  return n > 0 ? uint64_t(n) : 0;
}

std::unique_ptr<TFlacSource> OpenFlac(const char* fn) {
  auto source = std::make_unique<TFlacSource>();
  if (!source->Open(fn)) return nullptr;
  source->SetFileBytes(FileBytes(fn));
  return source;
}

std::unique_ptr<mlplugin::TPluginSource> OpenForPlay(const char* path) { return OpenFlac(path); }

}  // namespace

extern "C" __attribute__((visibility("default"))) In_Module* winampGetInModule2() {
  static In_Module& module =
      mlplugin::DefineInputModule("MiniLirra FLAC decoder", "flac;fla\0FLAC audio (*.flac;*.fla)\0", OpenForPlay);
  return &module;
}

extern "C" __attribute__((visibility("default"))) int winampGetExtendedFileInfo(const char* fn, const char* field,
                                                                                 char* ret, int retlen) {
  if (!fn) return 0;
  auto source = OpenFlac(fn);
  if (!source) return 0;
  std::vector<std::string> comments;
  FLAC__StreamMetadata* tags = nullptr;
  if (FLAC__metadata_get_tags(fn, &tags) && tags) {
    const auto& vc = tags->data.vorbis_comment;
    for (FLAC__uint32 i = 0; i < vc.num_comments; ++i)
      comments.emplace_back(reinterpret_cast<const char*>(vc.comments[i].entry), vc.comments[i].length);
    FLAC__metadata_object_delete(tags);
  }
  return mlplugin::AnswerFileInfo(comments, source->LengthMs(), source->BitRateKbps(), source->SampleRate(),
                                  source->Channels(), field, ret, retlen);
}
