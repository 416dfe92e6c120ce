// Simple MAPI on Windows: win.ini's [Mail] MAPI entry and the real MAPI32.DLL.
#include <windows.h>

#include "platform/mail.h"
#include "platform/text.h"

namespace platform {

namespace {

bool clientDeclared() { return GetProfileIntW(L"Mail", L"MAPI", 0) == 1; }

MailLibrary load() { return LoadLibraryW(L"MAPI32.DLL"); }

LPMAPISENDMAIL sendEntry(MailLibrary library) {
    if (!library) return nullptr;
    return reinterpret_cast<LPMAPISENDMAIL>(
        reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(library), "MAPISendMail")));
}

bool unload(MailLibrary library) { return library && FreeLibrary(static_cast<HMODULE>(library)) != 0; }

const MailSystem kReal{clientDeclared, load, sendEntry, unload};

}  // namespace

const MailSystem& realMailSystem() { return kReal; }

std::string toMailText(std::string_view utf8) {
    const std::u16string w = utf8ToUtf16(utf8);
    if (w.empty()) return std::string();
    const wchar_t* p = reinterpret_cast<const wchar_t*>(w.data());
    const int n = WideCharToMultiByte(CP_ACP, 0, p, static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, p, static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace platform
