// Ogg Vorbis input plug-in on libvorbisfile: 16-bit PCM of one or two channels, sample-exact
// seeking, and the file's Vorbis comments for the tag reader.
#include "plugins/common/PluginPlayback.h"

#include <vorbis/vorbisfile.h>

#include <memory>

namespace {

class TVorbisSource final : public mlplugin::TPluginSource {
public:
  ~TVorbisSource() override {
    if (open_) ov_clear(&file_);
  }
  bool Open(const char* path) {
    open_ = ov_fopen(path, &file_) == 0;
    if (!open_) return false;
    const vorbis_info* info = ov_info(&file_, -1);
    if (!info || info->channels < 1 || info->channels > 2 || info->rate <= 0) return false;
    rate_ = static_cast<int>(info->rate);
    channels_ = info->channels;
    return true;
  }
  int SampleRate() const override { return rate_; }
  int Channels() const override { return channels_; }
  int LengthMs() const override {
    const ogg_int64_t total = ov_pcm_total(const_cast<OggVorbis_File*>(&file_), -1);
    return total > 0 ? static_cast<int>(total * 1000 / rate_) : 0;
  }
  int BitRateKbps() const override {
    const long b = ov_bitrate(const_cast<OggVorbis_File*>(&file_), -1);
    return b > 0 ? static_cast<int>(b / 1000) : 0;
  }
  bool Decode(std::vector<int16_t>& out) override {
    char buffer[4096 * 2];
    for (;;) {
      int section = 0;
      const long got = ov_read(&file_, buffer, sizeof buffer, 0, 2, 1, &section);
      if (got == OV_HOLE) continue;  // a gap in the data: what follows still plays
      if (got <= 0) return false;
      // A chained stream whose next link changes the format cannot go on in this output.
      const vorbis_info* info = ov_info(&file_, section);
      if (!info || info->channels != channels_ || info->rate != rate_) return false;
      const auto* s = reinterpret_cast<const int16_t*>(buffer);
      out.insert(out.end(), s, s + got / 2);
      return true;
    }
  }
  bool SeekMs(int ms) override { return ov_pcm_seek(&file_, ogg_int64_t(ms) * rate_ / 1000) == 0; }
  OggVorbis_File& File() { return file_; }

private:
  OggVorbis_File file_{};
  bool open_ = false;
  int rate_ = 0, channels_ = 0;
};

std::unique_ptr<mlplugin::TPluginSource> OpenVorbis(const char* path) {
  auto source = std::make_unique<TVorbisSource>();
  if (!source->Open(path)) return nullptr;
  return source;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) In_Module* winampGetInModule2() {
  static In_Module& module = mlplugin::DefineInputModule("MiniLirra Ogg Vorbis decoder",
                                                         "ogg;oga\0Ogg Vorbis audio (*.ogg;*.oga)\0", OpenVorbis);
  return &module;
}

extern "C" __attribute__((visibility("default"))) int winampGetExtendedFileInfo(const char* fn, const char* field,
                                                                                 char* ret, int retlen) {
  if (!fn) return 0;
  TVorbisSource source;
  if (!source.Open(fn)) return 0;
  std::vector<std::string> comments;
  if (const vorbis_comment* vc = ov_comment(&source.File(), -1))
    for (int i = 0; i < vc->comments; ++i)
      if (vc->user_comments[i]) comments.emplace_back(vc->user_comments[i], size_t(vc->comment_lengths[i]));
  return mlplugin::AnswerFileInfo(comments, source.LengthMs(), source.BitRateKbps(), source.SampleRate(),
                                  source.Channels(), field, ret, retlen);
}
