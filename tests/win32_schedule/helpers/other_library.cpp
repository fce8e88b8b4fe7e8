// A library named like Brakwater.dll that lacks its export.
#include <windows.h>

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

HRESULT WINAPI SomethingElse() { return S_OK; }

}  // extern "C"
