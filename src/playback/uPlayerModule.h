#pragma once
// The player's public face: states, properties and events that the main window and the other
// parts use. TPlayer is the one implementation.
#include "base/TimeText.h"

#include <cstdint>
#include <functional>
#include <string>

namespace ml {

enum TPlayerState : uint8_t { psReady = 0, psPlaying = 1, psStopped = 2, psPaused = 3, psOpen = 4, psPlayEnd = 5 };
enum class TAudioChannel : uint8_t { acStereo = 0, acLeft = 1, acRight = 2 };

// What the player knows of the open file: the decoder's technical facts. The tag reader fills in
// the texts once it is attached.
struct TPlaybackMediaInfo {
  uint64_t FileSize = 0;
  int32_t SampleRate = 0;
  int32_t BitRate = 0;  // kbit/s
  int32_t Duration = 0;  // ms
  int32_t Channels = 0;
  int32_t BitsPerSample = 0;
  std::string Format;  // "MPEG", "WAV"
  std::string Title, Artist, Album, Year, Genre, Track, Comment;
};

class TPlayerModule;
using TPlayerStateChangeEvent = std::function<void(TPlayerModule& sender, TPlayerState cur, TPlayerState old)>;
using TNotifyEvent = std::function<void(TPlayerModule& sender)>;
using TPlayerTimerEvent =
    std::function<void(TPlayerModule& sender, int32_t currentPos, int32_t stopPos, double percent)>;
using TNotifyNewFFTDataEvent = std::function<void(TPlayerModule& sender, const float* bandOut)>;

class TPlayerModule {
public:
  virtual ~TPlayerModule() = default;

  virtual void SetVolume(int value) = 0;
  virtual void SetBalance(int value) = 0;
  virtual void SetMute(bool mute) = 0;
  virtual void SetAudioChannel(TAudioChannel channel) = 0;
  // 0..100, 0 switches the 3D widener off.
  virtual void SetSound3DVolume(int value) = 0;
  // The equalizer and its preamplifier together.
  virtual void SetEQEnabled(bool on) = 0;
  virtual bool OpenFile(const std::string& fileName, bool shareWrite) = 0;
  virtual bool Play(float startFraction) = 0;
  virtual bool Stop() = 0;
  virtual bool Pause() = 0;
  virtual bool Resume() = 0;
  virtual void SeekFraction(float fraction) = 0;
  virtual void SeekMs(int64_t positionMs) = 0;
  virtual void GetMediaInfo(TPlaybackMediaInfo& info) const = 0;
  virtual int32_t GetBytesPerSecond() const = 0;
  virtual int32_t GetSampleRate() const = 0;
  virtual int32_t GetDurationMs() const = 0;
  virtual int32_t GetPositionMs() = 0;
  virtual double GetProgress() = 0;
  virtual std::string GetDurationText() const = 0;
  virtual std::string GetPositionText() = 0;

  int Volume() const { return Volume_; }
  int Balance() const { return Balance_; }
  bool Mute() const { return Mute_; }
  TAudioChannel AudioChannel() const { return AudioChannel_; }
  int Sound3DVolume() const { return Sound3DVolume_; }
  bool EQEnabled() const { return EQEnabled_; }
  const TPlaybackMediaInfo& MediaTagInfo() const { return MediaTagInfo_; }

  TPlayerStateChangeEvent OnPlayerStateChange;
  TNotifyEvent OnOpenFileError;
  TNotifyEvent OnFileFinishPlay;
  TNotifyEvent OnPlayError;  // the output did not open or stopped taking audio (decoding errors end the song)
  TNotifyNewFFTDataEvent OnNewFFTData;
  TNotifyEvent OnPlayingMiddle;
  TPlayerTimerEvent OnPlayProgress;

protected:
  int Volume_ = 100;
  int Balance_ = 50;
  bool Mute_ = false;
  TAudioChannel AudioChannel_ = TAudioChannel::acStereo;
  int Sound3DVolume_ = 0;
  bool EQEnabled_ = false;
  TPlaybackMediaInfo MediaTagInfo_;
};


}  // namespace ml
