// The per-user settings store of one window test, empty at its start and
// dropped at its end: on Linux $XDG_CONFIG_HOME points at a fresh folder, on
// Windows this process's HKEY_CURRENT_USER is mapped onto a fresh key, so the
// window's fixed key never touches the user's own.
#pragma once

#include <memory>

namespace testutil {

class UserStore {
public:
    UserStore();
    ~UserStore();
    UserStore(const UserStore&) = delete;
    UserStore& operator=(const UserStore&) = delete;

    // Whether this platform's store can be made to refuse the writes of a key
    // it has opened. The registry cannot: a key it opens for writing takes them.
    static const bool CanRefuseWrites;
    // From now on, every write fails (true) or works again (false).
    void RefuseWrites(bool refuse);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace testutil
