// KnownDLLs from the system's registry.
#include <windows.h>

#include "platform/knowndlls.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace platform {

bool systemKnownDlls(std::vector<std::string>& names) {
    names.clear();
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    // A real key holds a few dozen values; a damaged one is read no further than this.
    for (DWORD i = 0; i < 4096; ++i) {
        wchar_t name[256];
        wchar_t data[512];
        DWORD nameLength = 256, dataSize = sizeof data - sizeof(wchar_t), type = 0;
        const LONG status = RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                          &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) break;
        // Too long for a DLL name, or not text: DllDirectory (REG_EXPAND_SZ) names a folder.
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        std::size_t length = dataSize / sizeof(wchar_t);
        while (length > 0 && data[length - 1] == L'\0') --length;
        const std::string value = narrow(data, length);
        const std::string valueName = narrow(name, nameLength);
        if (value.empty() || toLower(valueName).rfind("dlldirectory", 0) == 0) continue;
        names.push_back(value);
    }
    RegCloseKey(key);
    return true;
}

}  // namespace platform
