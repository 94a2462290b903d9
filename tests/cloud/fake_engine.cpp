// A stand-in engine library that exports only XL_Init: nonzero (FAKE_ENGINE_INITONLY) or 0
// (FAKE_ENGINE_INITZERO).
#include <windows.h>

extern "C" BOOL __stdcall XL_Init(void) {
#ifdef FAKE_ENGINE_INITZERO
  return FALSE;
#else
  return TRUE;
#endif
}
