/* The input plug-in interface, version 2, as our host and plug-ins share it: a plug-in library
 * exports "winampGetInModule2" returning its In_Module record; the host fills in the fields
 * marked (host), calls Init, then Play(file); the plug-in decodes on a thread of its own and
 * writes PCM through the Out_Module record the host hands it (outMod). The records keep the
 * field order of the interface with native pointer sizes, so a plug-in built for this machine
 * and this header has exactly the layout the host reads.
 *
 * Optionally a library also exports "winampGetExtendedFileInfo" (metadata names "title",
 * "artist", "album", "year", "genre", "track", "comment", "length" in ms, "bitrate" in kbit/s,
 * "samplerate", "channels"): 1 and the value as UTF-8 in ret (NUL-terminated, at most retlen
 * bytes), or 0 when the plug-in does not know it. */
#ifndef ML_PLUGIN_SDK_INPUT_MODULE_H
#define ML_PLUGIN_SDK_INPUT_MODULE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef void* ML_HWND;
typedef void* ML_HINSTANCE;

#define IN_VER 0x100
#define OUT_VER 0x10

typedef struct Out_Module {
  int version; /* OUT_VER */
  char* description;
  int id;
  ML_HWND hMainWindow;
  ML_HINSTANCE hDllInstance;
  void (*Config)(ML_HWND hwndParent);
  void (*About)(ML_HWND hwndParent);
  void (*Init)(void);
  void (*Quit)(void);
  /* Returns the output's latency in ms (>= 0), or < 0 when it takes no audio of this format. */
  int (*Open)(int samplerate, int numchannels, int bitspersamp, int bufferlenms, int prebufferms);
  void (*Close)(void);
  /* 0 when the block was taken whole, 1 when it was not (try again once CanWrite says so). */
  int (*Write)(char* buf, int len);
  int (*CanWrite)(void);  /* bytes Write takes now */
  int (*IsPlaying)(void); /* non-zero while written audio is still to be played */
  int (*Pause)(int pause);
  void (*SetVolume)(int volume);
  void (*SetPan)(int pan);
  void (*Flush)(int t); /* drop what is queued; playback resumes at t ms */
  int (*GetOutputTime)(void);  /* ms of audio played (taken by the host) */
  int (*GetWrittenTime)(void); /* ms of audio written */
} Out_Module;

typedef struct In_Module {
  int version; /* IN_VER */
  char* description;
  ML_HWND hMainWindow;       /* (host) */
  ML_HINSTANCE hDllInstance; /* (host) */
  /* Pairs of NUL-terminated strings, "ext;ext\0Description\0", ended by an empty string. */
  char* FileExtensions;
  int is_seekable;
  int UsesOutputPlug; /* 0: the plug-in plays by itself, which a host with its own output refuses */
  void (*Config)(ML_HWND hwndParent);
  void (*About)(ML_HWND hwndParent);
  void (*Init)(void);
  void (*Quit)(void);
  void (*GetFileInfo)(const char* file, char* title, int* length_in_ms);
  int (*InfoBox)(const char* file, ML_HWND hwndParent);
  int (*IsOurFile)(const char* fn);
  int (*Play)(const char* fn); /* 0 on success */
  void (*Pause)(void);
  void (*UnPause)(void);
  int (*IsPaused)(void);
  void (*Stop)(void); /* ends the plug-in's thread before it returns */
  int (*GetLength)(void); /* ms, or <= 0 when unknown */
  int (*GetOutputTime)(void);
  void (*SetOutputTime)(int time_in_ms); /* seek: the plug-in flushes the output at the new time */
  void (*SetVolume)(int volume);
  void (*SetPan)(int pan);
  /* Visualisation and DSP hooks (host). */
  void (*SAVSAInit)(int maxlatency_in_ms, int srate);
  void (*SAVSADeInit)(void);
  void (*SAAddPCMData)(void* PCMData, int nch, int bps, int timestamp);
  int (*SAGetMode)(void);
  int (*SAAdd)(void* data, int timestamp, int csa);
  void (*VSAAddPCMData)(void* PCMData, int nch, int bps, int timestamp);
  int (*VSAGetMode)(int* specNch, int* waveNch);
  int (*VSAAdd)(void* data, int timestamp);
  void (*VSASetInfo)(int srate, int nch);
  int (*dsp_isactive)(void);
  /* Returns the number of samples (frames) now in samples: the plug-in writes that many. */
  int (*dsp_dosamples)(short int* samples, int numsamples, int bps, int nch, int srate);
  void (*EQSet)(int on, char data[10], int preamp);
  /* (host) bitrate in kbit/s, srate in kHz; -1 leaves a value as it was. */
  void (*SetInfo)(int bitrate, int srate, int stereo, int synched);
  Out_Module* outMod; /* (host) */
} In_Module;

typedef In_Module* (*winampGetInModule2Fn)(void);
typedef int (*winampGetExtendedFileInfoFn)(const char* fn, const char* metadata, char* ret, int retlen);

#ifdef __cplusplus
}
#endif

#endif
