// Process entry of vorlane.exe.
#include <windows.h>

#include "app/frame_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) { return RunVorlane(instance); }
