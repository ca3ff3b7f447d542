/* A plug-in of the older interface version (0x10): the host must refuse it. */
#include "plugins/sdk/dsp_plugin.h"

static int Same(DSPModule* m, short int* s, int frames, int bps, int nch, int srate) {
  (void)m, (void)s, (void)bps, (void)nch, (void)srate;
  return frames;
}
static DSPModule module = {"Old", 0, 0, 0, 0, Same, 0, 0};
static DSPModule* GetModule(int i) { return i == 0 ? &module : 0; }
static DSPHeader header = {0x10, "Old interface", GetModule};

__attribute__((visibility("default"))) DSPHeader* winampDSPGetHeader2(void) { return &header; }
