// The single-file bundle reader on arbitrary bytes (copied to an exact-size
// buffer so that any read past them is caught), then every entry opened:
// a manifest never lists more entries than the bytes could hold, and what
// it lists lies inside the file.
#include <cstdint>
#include <cstring>
#include <memory>

#include "inspect/dotnet/bundle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    const platform::MemoryByteSource file(copy.get(), size);
    const dotnet::Bundle b = dotnet::readBundle(file);
    if (b.entries.size() > size / 19) __builtin_trap();
    if (b.outcome == dotnet::Bundle::Outcome::Damaged && b.reason.empty()) __builtin_trap();
    for (const dotnet::BundleEntry& e : b.entries) {
        if (!file.has(e.offset, e.storedSize())) __builtin_trap();
        std::string reason;
        const std::unique_ptr<platform::ByteSource> s = dotnet::openBundleEntry(file, e, reason);
        if (s && s->size() != e.size) __builtin_trap();
        if (!s && reason.empty()) __builtin_trap();
        std::uint8_t byte;
        if (s && s->size() > 0 && !s->read(s->size() - 1, &byte, 1)) __builtin_trap();
    }
    return 0;
}
