#include <cstdlib>

#include "tests/app/userstore.h"
#include "tests/support/testutil.h"

namespace testutil {

struct UserStore::Impl {
    TempDir dir;
};

const bool UserStore::CanRefuseWrites = true;

UserStore::UserStore() : impl_(std::make_unique<Impl>()) { RefuseWrites(false); }

UserStore::~UserStore() { unsetenv("XDG_CONFIG_HOME"); }

// No folder can be made under /proc/self: the store file cannot be written.
void UserStore::RefuseWrites(bool refuse) {
    setenv("XDG_CONFIG_HOME", refuse ? "/proc/self" : impl_->dir.path().c_str(), 1);
}

}  // namespace testutil
