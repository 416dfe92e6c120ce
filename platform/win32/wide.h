// UTF-8 inside, UTF-16 for the wide Windows functions.
#pragma once

#include <string>

#include "platform/text.h"

namespace platform {

inline std::wstring wide(const std::string& s) {
    const std::u16string w = utf8ToUtf16(s);
    return std::wstring(w.begin(), w.end());
}

inline std::string narrow(const wchar_t* s, std::size_t n) {
    return utf16ToUtf8(reinterpret_cast<const char16_t*>(s), n);
}

inline std::string narrow(const std::wstring& s) { return narrow(s.data(), s.size()); }

}  // namespace platform
