/* The ARM64EC half: another kernel32 function and a DLL only EC code uses. */
__declspec(dllimport) void __stdcall Sleep(unsigned long);
__declspec(dllimport) int EcOnly(void);
__declspec(dllexport) int ec_side(void) {
    Sleep(1);
    return EcOnly();
}
