#include "playback/uWaveOutput.h"

#include "base/DebugTrace.h"

#include <alsa/asoundlib.h>

#include <algorithm>

namespace ml {

namespace {

snd_pcm_format_t AlsaFormat(int bits) {
  switch (bits) {
    case 8: return SND_PCM_FORMAT_U8;
    case 16: return SND_PCM_FORMAT_S16_LE;
    case 24: return SND_PCM_FORMAT_S24_3LE;
    case 32: return SND_PCM_FORMAT_S32_LE;
    default: return SND_PCM_FORMAT_UNKNOWN;
  }
}

// ALSA prints its own complaints to stderr; ours go through the trace.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

bool TWaveOutput::DeviceOpen() {
  snd_lib_error_set_handler(QuietAlsa);
  Drained_ = false;
  const snd_pcm_format_t fmt = AlsaFormat(Format.BitsPerSample);
  if (fmt == SND_PCM_FORMAT_UNKNOWN) return false;
  // Opened without waiting: a card that another program holds (the sound server keeps hw:0 on
  // most desktops) says so at once instead of freezing the engine until it is let go.
  int rc = snd_pcm_open(&Pcm_, Device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (rc < 0) {
    Error_ = "cannot open ALSA PCM \"" + Device_ + "\": " + snd_strerror(rc);
    Pcm_ = nullptr;
    return false;
  }
  // Writes may wait as usual: they never ask for more than the device has room for.
  snd_pcm_nonblock(Pcm_, 0);
  // A device buffer as long as the queue we keep; the device starts when we say (the start
  // threshold that set_params chooses is a whole buffer, which the queue need not reach).
  rc = snd_pcm_set_params(Pcm_, fmt, SND_PCM_ACCESS_RW_INTERLEAVED, Format.Channels, Format.SamplesPerSec, 1,
                          kQueueMs * 1000);
  snd_pcm_uframes_t buffer = 0, period = 0;
  if (rc >= 0) rc = snd_pcm_get_params(Pcm_, &buffer, &period);
  if (rc < 0) {
    Error_ = "ALSA PCM \"" + Device_ + "\" does not play " + std::to_string(Format.SamplesPerSec) + " Hz, " +
             std::to_string(Format.Channels) + " channels, " + std::to_string(Format.BitsPerSample) +
             " bits: " + snd_strerror(rc);
    snd_pcm_close(Pcm_);
    Pcm_ = nullptr;
    return false;
  }
  BufferFrames_ = buffer;
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  CanPause_ = snd_pcm_hw_params_current(Pcm_, hw) == 0 && snd_pcm_hw_params_can_pause(hw);
  return true;
}

void TWaveOutput::DeviceClose() {
  if (!Pcm_) return;
  snd_pcm_drop(Pcm_);  // after a natural end there is nothing left to drop
  snd_pcm_close(Pcm_);
  Pcm_ = nullptr;
}

void TWaveOutput::StartIfPrepared() {
  if (snd_pcm_state(Pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(Pcm_);
}

bool TWaveOutput::DeviceWrite(const uint8_t* data, uint32_t length) {
  if (!Pcm_) return false;
  ApplySoftwareVolume(const_cast<uint8_t*>(data), length);
  snd_pcm_uframes_t frames = length / Format.BlockAlign;
  const uint8_t* p = data;
  for (int retry = 0; frames > 0;) {
    const snd_pcm_sframes_t n = snd_pcm_writei(Pcm_, p, frames);
    if (n < 0) {
      // An underrun (a card that cannot pause has played out while paused) or a suspend: the
      // device is prepared again and takes the block.
      const int rc = snd_pcm_recover(Pcm_, static_cast<int>(n), 1);
      if (rc < 0 || ++retry > 4) {
        Error_ = "ALSA PCM \"" + Device_ + "\" stopped taking audio: " + snd_strerror(rc < 0 ? rc : int(n));
        return false;
      }
      continue;
    }
    frames -= static_cast<snd_pcm_uframes_t>(n);
    p += static_cast<size_t>(n) * Format.BlockAlign;
  }
  StartIfPrepared();
  return true;
}

uint64_t TWaveOutput::DevicePlayed() {
  // What has left the device's buffer. The buffer is the queue; what the device does after it (a
  // sound server's own buffer) is its delay, which the position accounts for.
  const uint64_t written = WrittenSinceBase();
  if (!Pcm_) return written;
  const snd_pcm_sframes_t avail = snd_pcm_avail_update(Pcm_);
  if (avail < 0) return written;  // ran dry: everything was played
  const uint64_t held = (BufferFrames_ - std::min<uint64_t>(uint64_t(avail), BufferFrames_)) * Format.BlockAlign;
  return written - std::min(written, held);
}

uint64_t TWaveOutput::DeviceDelay() {
  snd_pcm_sframes_t delay = 0;
  if (!Pcm_ || Drained_ || snd_pcm_delay(Pcm_, &delay) < 0 || delay <= 0) return 0;
  return static_cast<uint64_t>(delay) * Format.BlockAlign;
}

uint64_t TWaveOutput::DeviceRoom() {
  // A slow stream (8 kHz mono) may fill the card's buffer before the queue; a write beyond the
  // card's room would block the engine and with it every request.
  if (!Pcm_) return 0;
  const snd_pcm_sframes_t avail = snd_pcm_avail_update(Pcm_);
  if (avail < 0) {
    snd_pcm_recover(Pcm_, static_cast<int>(avail), 1);
    return BufferFrames_ * Format.BlockAlign;  // after a recovery the whole buffer is free
  }
  return static_cast<uint64_t>(avail) * Format.BlockAlign;
}

void TWaveOutput::DevicePause(bool paused) {
  if (!Pcm_) return;
  const snd_pcm_state_t state = snd_pcm_state(Pcm_);
  if (CanPause_) {
    if (paused && state == SND_PCM_STATE_RUNNING) snd_pcm_pause(Pcm_, 1);
    if (!paused && state == SND_PCM_STATE_PAUSED) snd_pcm_pause(Pcm_, 0);
  }
  // A card that cannot pause plays out the short queue it holds and runs dry; the next write
  // recovers it.
}

void TWaveOutput::DeviceFlush() {
  if (!Pcm_) return;
  Drained_ = false;
  snd_pcm_drop(Pcm_);
  snd_pcm_prepare(Pcm_);
}

void TWaveOutput::DeviceDrain() {
  // A song shorter than what the device waits for before it starts must start anyway.
  if (Pcm_) StartIfPrepared();
}

bool TWaveOutput::DeviceAllPlayed() {
  if (!Pcm_ || Drained_) return true;
  const snd_pcm_state_t state = snd_pcm_state(Pcm_);
  const snd_pcm_sframes_t avail = snd_pcm_avail_update(Pcm_);
  const bool bufferEmpty = state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SETUP || avail < 0 ||
                           uint64_t(avail) >= BufferFrames_;
  if (!bufferEmpty) return false;
  // The last frames have left our buffer, but a sound server (the pulse plug-in) still holds
  // them: the drain returns once they are heard, so closing the device cuts nothing. It is
  // short: only what the server buffers is left.
  if (state == SND_PCM_STATE_RUNNING) snd_pcm_drain(Pcm_);
  Drained_ = true;
  return true;
}

}  // namespace ml
