/* The DSP host's test plug-in. Module 0 halves every 16-bit sample (-6 dB, integer division);
 * module 1 doubles the frames (each frame twice) and returns twice the count; module 2 hangs in
 * ModifySamples; module 3 fails Init; module 4 negates the samples in place and returns 0. */
#include "plugins/sdk/dsp_plugin.h"

#include <string.h>
#include <unistd.h>

static int Half(DSPModule* m, short int* s, int frames, int bps, int nch, int srate) {
  (void)m, (void)srate;
  if (bps != 16) return frames;
  for (int i = 0; i < frames * nch; ++i) s[i] = (short)(s[i] / 2);
  return frames;
}

static int Doubled(DSPModule* m, short int* s, int frames, int bps, int nch, int srate) {
  (void)m, (void)srate;
  const size_t frame = (size_t)(bps / 8) * (size_t)nch;
  unsigned char* p = (unsigned char*)s;
  for (int f = frames - 1; f >= 0; --f) {
    memmove(p + (size_t)(2 * f) * frame, p + (size_t)f * frame, frame);
    memmove(p + (size_t)(2 * f + 1) * frame, p + (size_t)f * frame, frame);
  }
  return frames * 2;
}

static int Hang(DSPModule* m, short int* s, int frames, int bps, int nch, int srate) {
  (void)m, (void)s, (void)bps, (void)nch, (void)srate;
  sleep(3);
  return frames;
}

static int Negate(DSPModule* m, short int* s, int frames, int bps, int nch, int srate) {
  (void)m, (void)srate;
  if (bps == 16)
    for (int i = 0; i < frames * nch; ++i) s[i] = (short)-s[i];
  return 0;
}

static int InitOk(DSPModule* m) {
  (void)m;
  return 0;
}
static int InitFails(DSPModule* m) {
  (void)m;
  return 1;
}
static void Nothing(DSPModule* m) { (void)m; }

static DSPModule modules[] = {
    {"Half", 0, 0, Nothing, InitOk, Half, Nothing, 0},
    {"Doubled", 0, 0, Nothing, InitOk, Doubled, Nothing, 0},
    {"Hang", 0, 0, Nothing, InitOk, Hang, Nothing, 0},
    {"Init fails", 0, 0, Nothing, InitFails, Half, Nothing, 0},
    {"Negate, returns 0", 0, 0, Nothing, InitOk, Negate, Nothing, 0},
};

static DSPModule* GetModule(int i) { return i >= 0 && i < 5 ? &modules[i] : 0; }

static DSPHeader header = {DSP_HDRVER, "Host test plug-in", GetModule};

__attribute__((visibility("default"))) DSPHeader* winampDSPGetHeader2(void) { return &header; }
