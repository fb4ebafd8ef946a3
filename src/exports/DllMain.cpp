#include <windows.h>

// The library keeps no global state, so there is nothing to set up or tear down.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
