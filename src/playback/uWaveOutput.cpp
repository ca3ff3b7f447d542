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
  const snd_pcm_format_t fmt = AlsaFormat(Format.BitsPerSample);
  if (fmt == SND_PCM_FORMAT_UNKNOWN) return false;
  int rc = snd_pcm_open(&Pcm_, Device_.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (rc < 0) {
    DebugTrace("ALSA open %s: %s", Device_.c_str(), snd_strerror(rc));
    Pcm_ = nullptr;
    return false;
  }
  // Half a second of device buffer: more than the ring we keep filled.
  rc = snd_pcm_set_params(Pcm_, fmt, SND_PCM_ACCESS_RW_INTERLEAVED, Format.Channels, Format.SamplesPerSec, 1,
                          1000000);
  if (rc < 0) {
    DebugTrace("ALSA params %s: %s", Device_.c_str(), snd_strerror(rc));
    snd_pcm_close(Pcm_);
    Pcm_ = nullptr;
    return false;
  }
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  CanPause_ = snd_pcm_hw_params_current(Pcm_, hw) == 0 && snd_pcm_hw_params_can_pause(hw);
  return true;
}

void TWaveOutput::DeviceClose() {
  if (!Pcm_) return;
  snd_pcm_drop(Pcm_);
  snd_pcm_close(Pcm_);
  Pcm_ = nullptr;
}

bool TWaveOutput::DeviceWrite(const uint8_t* data, uint32_t length) {
  if (!Pcm_) return false;
  ApplySoftwareVolume(const_cast<uint8_t*>(data), length);
  snd_pcm_uframes_t frames = length / Format.BlockAlign;
  const uint8_t* p = data;
  for (int retry = 0; frames > 0 && retry < 4;) {
    snd_pcm_sframes_t n = snd_pcm_writei(Pcm_, p, frames);
    if (n < 0) {
      if (snd_pcm_recover(Pcm_, static_cast<int>(n), 1) < 0) return false;
      ++retry;
      continue;
    }
    frames -= static_cast<snd_pcm_uframes_t>(n);
    p += static_cast<size_t>(n) * Format.BlockAlign;
  }
  return true;
}

uint64_t TWaveOutput::DevicePlayed() {
  const uint64_t written = WrittenSinceBase();
  if (!Pcm_) return written;
  snd_pcm_sframes_t delay = 0;
  const snd_pcm_state_t state = snd_pcm_state(Pcm_);
  if (state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SETUP) return written;  // ran dry
  if (snd_pcm_delay(Pcm_, &delay) < 0 || delay < 0) return written;
  const uint64_t queued = static_cast<uint64_t>(delay) * Format.BlockAlign;
  return written - std::min(written, queued);
}

uint64_t TWaveOutput::DeviceRoom() {
  // A slow stream (8 kHz mono) fills the whole card buffer long before the ring; a write beyond
  // the card's room would block the engine and with it every request.
  if (!Pcm_) return 0;
  const snd_pcm_sframes_t avail = snd_pcm_avail_update(Pcm_);
  if (avail < 0) {
    snd_pcm_recover(Pcm_, static_cast<int>(avail), 1);
    return UINT64_MAX;  // after a recovery the whole buffer is free
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
  // A card that cannot pause simply plays out what it holds and waits for more.
}

void TWaveOutput::DeviceFlush() {
  if (!Pcm_) return;
  snd_pcm_drop(Pcm_);
  snd_pcm_prepare(Pcm_);
}

void TWaveOutput::DeviceDrain() {
  // A song shorter than the device's start threshold would otherwise never start playing.
  if (Pcm_ && snd_pcm_state(Pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(Pcm_);
}

}  // namespace ml
