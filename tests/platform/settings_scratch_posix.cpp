#include <cstdlib>

#include "tests/platform/settings_scratch.h"
#include "tests/support/testutil.h"

namespace testutil {

struct ScratchStore::Impl {
    TempDir dir;
};

ScratchStore::ScratchStore() : impl_(std::make_unique<Impl>()), key_("\\Software\\Morvane Soft\\Tavelin") {
    setenv("XDG_CONFIG_HOME", impl_->dir.path().c_str(), 1);
}

ScratchStore::~ScratchStore() { unsetenv("XDG_CONFIG_HOME"); }

std::string ScratchStore::folder() const { return impl_->dir.path() + "/tavelin"; }
std::string ScratchStore::file() const { return folder() + "/user.reg"; }

}  // namespace testutil
