/* A library named like a DSP plug-in that exports no header getter: the host must refuse it. */
__attribute__((visibility("default"))) int SomethingElse(void) { return 1; }
