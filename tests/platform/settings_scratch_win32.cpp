#include <windows.h>

#include <atomic>
#include <string>

#include "tests/platform/settings_scratch.h"

namespace testutil {

namespace {
const wchar_t kTestRoot[] = L"Software\\Tavelin Tests";
}

struct ScratchStore::Impl {
    std::wstring key;
};

ScratchStore::ScratchStore() : impl_(std::make_unique<Impl>()) {
    static std::atomic<unsigned> counter{0};
    const std::string leaf = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    key_ = "\\Software\\Tavelin Tests\\" + leaf;
    impl_->key = std::wstring(kTestRoot) + L"\\" + std::wstring(leaf.begin(), leaf.end());
    RegDeleteTreeW(HKEY_CURRENT_USER, impl_->key.c_str());
}

ScratchStore::~ScratchStore() {
    RegDeleteTreeW(HKEY_CURRENT_USER, impl_->key.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, kTestRoot);  // only when empty
}

std::string ScratchStore::folder() const { return std::string(); }
std::string ScratchStore::file() const { return std::string(); }

}  // namespace testutil
