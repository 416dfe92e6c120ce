#include "inspect/dotnet/netfxlist.h"

#include <algorithm>
#include <iterator>

#include "platform/text.h"

namespace dotnet {

namespace {

const NetFxAssembly kAssemblies[] = {
#include "inspect/dotnet/netfxlist.inc"
};

// ASCII case folded, as the list was sorted (Python's lower()).
bool before(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i] >= 'A' && a[i] <= 'Z' ? a[i] + 32 : a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i] >= 'A' && b[i] <= 'Z' ? b[i] + 32 : b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

}  // namespace

const NetFxAssembly* netFxAssemblies(std::size_t& count) {
    count = std::size(kAssemblies);
    return kAssemblies;
}

const NetFxAssembly* findNetFxAssembly(std::string_view name) {
    const auto it = std::lower_bound(std::begin(kAssemblies), std::end(kAssemblies), name,
                                     [](const NetFxAssembly& a, std::string_view n) { return before(a.name, n); });
    if (it == std::end(kAssemblies) || !platform::equalsIgnoringCase(it->name, name)) return nullptr;
    return it;
}

bool isNetFxAssembly(std::string_view name, std::string_view publicKeyToken) {
    const NetFxAssembly* a = findNetFxAssembly(name);
    return a && platform::equalsIgnoringCase(a->publicKeyToken, publicKeyToken);
}

}  // namespace dotnet
