/* The interface of a DSP plug-in: a shared library named dsp_*.so that exports
 * winampDSPGetHeader2, returning its header. The host takes a module from the header's module
 * getter, sets its parent window and library handle, calls Init, then ModifySamples for every
 * block of PCM, Config when the user asks, and Quit before it lets the module go.
 *
 * The records have the machine's own pointer sizes and alignment (these are plain C structs
 * compiled by the same compiler on both sides); the field order is the interface.
 *
 * ModifySamples works in place on interleaved signed little-endian PCM: numsamples frames of nch
 * channels of bps bits. The buffer has room for twice the frames given; the function returns the
 * number of frames now in it (at most twice numsamples). */
#ifndef MINILIRRA_DSP_PLUGIN_H
#define MINILIRRA_DSP_PLUGIN_H

#ifdef __cplusplus
extern "C" {
#endif

#define DSP_HDRVER 0x20

typedef struct DSPModule {
  char* description;
  void* hwndParent;   /* the host's window, or null */
  void* hDllInstance; /* the library's handle as the host opened it */
  void (*Config)(struct DSPModule* this_mod);
  int (*Init)(struct DSPModule* this_mod); /* 0 on success */
  int (*ModifySamples)(struct DSPModule* this_mod, short int* samples, int numsamples, int bps, int nch, int srate);
  void (*Quit)(struct DSPModule* this_mod);
  void* userData;
} DSPModule;

typedef struct DSPHeader {
  int version; /* DSP_HDRVER; the host refuses older headers */
  char* description;
  DSPModule* (*getModule)(int index); /* null past the last module */
} DSPHeader;

typedef DSPHeader* (*DSPGetHeaderFn)(void);
#define DSP_GET_HEADER_NAME "winampDSPGetHeader2"

#ifdef __cplusplus
}
#endif

#endif
