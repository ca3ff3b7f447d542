/* A plug-in whose module getter has nothing at index 0: the host must refuse it. */
#include "plugins/sdk/dsp_plugin.h"

static DSPModule* GetModule(int i) {
  (void)i;
  return 0;
}
static DSPHeader header = {DSP_HDRVER, "No modules", GetModule};

__attribute__((visibility("default"))) DSPHeader* winampDSPGetHeader2(void) { return &header; }
