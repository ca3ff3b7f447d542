/* Stereo tools: four small effects as modules of one DSP plug-in. Every sample size of the
 * interface (8-bit unsigned, 16-, 24- and 32-bit signed, little-endian) is handled; gains clip. */
#include "plugins/sdk/dsp_plugin.h"

#include <stdint.h>
#include <string.h>

enum { kSwap, kMono, kQuieter, kLouder };

static int64_t ReadSample(const unsigned char* p, int bytes) {
  switch (bytes) {
    case 1: return (int64_t)p[0] - 128;
    case 2: return (int16_t)(uint16_t)(p[0] | p[1] << 8);
    case 3: return (int32_t)((uint32_t)p[0] << 8 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 24) >> 8;
    default: return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24);
  }
}

static void WriteSample(unsigned char* p, int bytes, int64_t v) {
  const int64_t hi = bytes == 1 ? 127 : bytes == 2 ? 32767 : bytes == 3 ? 8388607 : 2147483647;
  const int64_t lo = -hi - 1;
  if (v > hi) v = hi;
  if (v < lo) v = lo;
  if (bytes == 1) {
    p[0] = (unsigned char)(v + 128);
    return;
  }
  for (int i = 0; i < bytes; ++i) p[i] = (unsigned char)((uint64_t)v >> (8 * i));
}

static int Process(DSPModule* mod, short int* samples, int frames, int bps, int nch, int srate) {
  (void)srate;
  const int kind = (int)(intptr_t)mod->userData, bytes = bps / 8;
  if (bytes < 1 || bytes > 4 || nch < 1 || frames <= 0) return frames;
  unsigned char* frame = (unsigned char*)samples;
  for (int f = 0; f < frames; ++f, frame += (size_t)bytes * (size_t)nch) {
    if (kind == kSwap || kind == kMono) {
      if (nch != 2) continue;
      if (kind == kSwap) {
        unsigned char t[4];
        memcpy(t, frame, (size_t)bytes);
        memmove(frame, frame + bytes, (size_t)bytes);
        memcpy(frame + bytes, t, (size_t)bytes);
      } else {
        const int64_t mid = (ReadSample(frame, bytes) + ReadSample(frame + bytes, bytes)) / 2;
        WriteSample(frame, bytes, mid);
        WriteSample(frame + bytes, bytes, mid);
      }
      continue;
    }
    for (int c = 0; c < nch; ++c) {
      unsigned char* p = frame + (size_t)c * (size_t)bytes;
      const int64_t s = ReadSample(p, bytes);
      WriteSample(p, bytes, kind == kQuieter ? s / 2 : s * 2);
    }
  }
  return frames;
}

static int Init(DSPModule* mod) {
  (void)mod;
  return 0;
}
static void Config(DSPModule* mod) { (void)mod; }
static void Quit(DSPModule* mod) { (void)mod; }

static DSPModule modules[] = {
    {"Swap left and right", 0, 0, Config, Init, Process, Quit, (void*)(intptr_t)kSwap},
    {"Mono (both channels carry the mid)", 0, 0, Config, Init, Process, Quit, (void*)(intptr_t)kMono},
    {"Gain -6 dB", 0, 0, Config, Init, Process, Quit, (void*)(intptr_t)kQuieter},
    {"Gain +6 dB (clipped)", 0, 0, Config, Init, Process, Quit, (void*)(intptr_t)kLouder},
};

static DSPModule* GetModule(int index) {
  return index >= 0 && index < (int)(sizeof modules / sizeof modules[0]) ? &modules[index] : 0;
}

static DSPHeader header = {DSP_HDRVER, "MiniLirra stereo tools", GetModule};

__attribute__((visibility("default"))) DSPHeader* winampDSPGetHeader2(void) { return &header; }
