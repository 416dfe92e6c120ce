// The settings store on Windows: the registry under HKEY_CURRENT_USER,
// through the wide functions (names and texts are UTF-8 above this layer).
// The registry keeps each value as it is set, with its own journal, so a
// refused write is reported by the write itself and closing a key writes
// nothing more.
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/settings.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform {

struct Settings::Impl {
    HKEY key = nullptr;
    std::wstring path;  // of the current key, relative to HKEY_CURRENT_USER

    // Type and raw data of a value; false when it cannot be read.
    bool query(const std::string& name, DWORD& type, std::vector<BYTE>& data, LONG& status) const {
        const std::wstring w = wide(name);
        for (int attempt = 0; attempt < 4; ++attempt) {
            DWORD size = 0;
            status = RegQueryValueExW(key, w.c_str(), nullptr, &type, nullptr, &size);
            if (status != ERROR_SUCCESS) return false;
            data.assign(size, 0);
            status = RegQueryValueExW(key, w.c_str(), nullptr, &type, data.data(), &size);
            if (status == ERROR_MORE_DATA) continue;  // changed in between
            if (status != ERROR_SUCCESS) return false;
            data.resize(size);
            return true;
        }
        return false;
    }

    void set(const std::string& name, DWORD type, const void* data, DWORD size) {
        if (!key || RegSetValueExW(key, wide(name).c_str(), 0, type, static_cast<const BYTE*>(data), size) != ERROR_SUCCESS)
            throw SettingsError::WriteFailed(name);
    }
};

Settings::Settings() : impl_(std::make_unique<Impl>()) {}

Settings::~Settings() { CloseKey(); }

bool Settings::OpenKey(const std::string& path, bool create) {
    std::wstring rel = wide(path);
    std::wstring full;
    if (!rel.empty() && rel[0] == L'\\')
        rel.erase(0, 1);
    else if (impl_->key)
        full = impl_->path;
    while (!rel.empty() && rel.back() == L'\\') rel.pop_back();
    if (!rel.empty()) full += (full.empty() ? L"" : L"\\") + rel;
    CloseKey();

    HKEY key = nullptr;
    LONG status;
    if (create)
        status = RegCreateKeyExW(HKEY_CURRENT_USER, full.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr);
    else
        status = RegOpenKeyExW(HKEY_CURRENT_USER, full.c_str(), 0, KEY_ALL_ACCESS, &key);
    // The key is there but ours to read no more: reported, as an unreadable
    // store file is on Linux. Creating is left to fail quietly.
    if (status == ERROR_ACCESS_DENIED && !create)
        throw SettingsUnreadable("La clé de registre HKEY_CURRENT_USER\\" + narrow(full) +
                                 " ne peut être ouverte : accès refusé.");
    if (status != ERROR_SUCCESS) return false;
    impl_->key = key;
    impl_->path = full;
    return true;
}

void Settings::CloseKey() {
    if (impl_->key) RegCloseKey(impl_->key);
    impl_->key = nullptr;
    impl_->path.clear();
}

std::vector<std::string> Settings::GetValueNames() const {
    std::vector<std::string> names;
    if (!impl_->key) return names;
    DWORD count = 0, longest = 0;
    if (RegQueryInfoKeyW(impl_->key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    std::vector<wchar_t> buf(longest + 1);
    for (DWORD i = 0;; ++i) {
        DWORD len = static_cast<DWORD>(buf.size());
        LONG status = RegEnumValueW(impl_->key, i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {  // a longer name appeared meanwhile
            buf.resize(buf.size() * 2 + 256);
            --i;
            continue;
        }
        if (status != ERROR_SUCCESS) break;
        names.push_back(narrow(buf.data(), len));
    }
    return names;
}

bool Settings::ValueExists(const std::string& name) const {
    return impl_->key &&
           RegQueryValueExW(impl_->key, wide(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string Settings::ReadString(const std::string& name) const {
    if (!impl_->key) throw SettingsError::ReadFailed(name);
    DWORD type = 0;
    std::vector<BYTE> data;
    LONG status;
    if (!impl_->query(name, type, data, status)) {
        if (status == ERROR_FILE_NOT_FOUND) return std::string();
        throw SettingsError::ReadFailed(name);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) throw SettingsError::WrongType(name);
    // The stored text may or may not carry its terminating zero.
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
    std::size_t n = data.size() / sizeof(wchar_t);
    for (std::size_t i = 0; i < n; ++i)
        if (text[i] == 0) {
            n = i;
            break;
        }
    return narrow(text, n);
}

std::int32_t Settings::ReadInteger(const std::string& name) const {
    DWORD type = 0;
    std::vector<BYTE> data;
    LONG status;
    if (!impl_->key || !impl_->query(name, type, data, status)) throw SettingsError::ReadFailed(name);
    if (type != REG_DWORD || data.size() != sizeof(DWORD)) throw SettingsError::WrongType(name);
    DWORD v;
    std::memcpy(&v, data.data(), sizeof v);
    return static_cast<std::int32_t>(v);
}

bool Settings::ReadBool(const std::string& name) const { return ReadInteger(name) != 0; }

void Settings::WriteString(const std::string& name, const std::string& value) {
    const std::wstring w = wide(value);
    impl_->set(name, REG_SZ, w.c_str(), static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
}

void Settings::WriteInteger(const std::string& name, std::int32_t value) {
    const DWORD v = static_cast<DWORD>(value);
    impl_->set(name, REG_DWORD, &v, sizeof v);
}

void Settings::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

bool Settings::DeleteValue(const std::string& name) {
    return impl_->key && RegDeleteValueW(impl_->key, wide(name).c_str()) == ERROR_SUCCESS;
}

}  // namespace platform
