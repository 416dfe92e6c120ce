/* The ARM64 half of a hybrid DLL: imports a kernel32 function and one of a
   DLL only native code uses. */
__declspec(dllimport) unsigned long __stdcall GetTickCount(void);
__declspec(dllimport) int NativeOnly(void);
__declspec(dllexport) int native_side(void) { return (int)GetTickCount() + NativeOnly(); }
