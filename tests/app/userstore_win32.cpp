#include <windows.h>

#include <atomic>
#include <string>

#include "tests/app/userstore.h"

namespace testutil {

namespace {
const wchar_t kTestRoot[] = L"Software\\Tavelin Tests";
}

struct UserStore::Impl {
    std::wstring path;
    HKEY root = nullptr;
};

const bool UserStore::CanRefuseWrites = false;

UserStore::UserStore() : impl_(std::make_unique<Impl>()) {
    static std::atomic<unsigned> counter{0};
    impl_->path = std::wstring(kTestRoot) + L"\\user-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(counter++);
    RegDeleteTreeW(HKEY_CURRENT_USER, impl_->path.c_str());
    if (RegCreateKeyExW(HKEY_CURRENT_USER, impl_->path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &impl_->root,
                        nullptr) == ERROR_SUCCESS)
        RegOverridePredefKey(HKEY_CURRENT_USER, impl_->root);
}

UserStore::~UserStore() {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (impl_->root) RegCloseKey(impl_->root);
    RegDeleteTreeW(HKEY_CURRENT_USER, impl_->path.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, kTestRoot);  // only when empty
}

void UserStore::RefuseWrites(bool) {}

}  // namespace testutil
