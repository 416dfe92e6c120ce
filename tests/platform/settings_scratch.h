// A fresh, empty settings store for one test: on Linux a file under a
// temporary $XDG_CONFIG_HOME, on Windows a unique registry key under
// HKEY_CURRENT_USER. Removed at the end of the test.
#pragma once

#include <memory>
#include <string>

namespace testutil {

class ScratchStore {
public:
    ScratchStore();
    ~ScratchStore();
    ScratchStore(const ScratchStore&) = delete;
    ScratchStore& operator=(const ScratchStore&) = delete;

    // Absolute key path of the test's own main key, such as "\Software\...".
    const std::string& key() const { return key_; }
    // Linux: the store file and its folder; empty on Windows.
    std::string file() const;
    std::string folder() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string key_;
};

}  // namespace testutil
