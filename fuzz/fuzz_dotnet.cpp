// The .NET metadata reader on arbitrary bytes, read from memory. The bytes
// are copied into an exact-size buffer so that any read past them is caught;
// what comes out must hold to the reader's own bounds.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "inspect/pe/clr.h"

namespace {
void checkName(const std::string& s) {
    // Cut names end with "…" (3 bytes); no control characters get through.
    if (s.size() > pe::kMaxMetadataName + 3) __builtin_trap();
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) __builtin_trap();
}
void checkAssembly(const pe::AssemblyName& a) {
    checkName(a.name);
    checkName(a.culture);
    if (!a.publicKeyToken.empty() && a.publicKeyToken.size() != 16) __builtin_trap();
    for (char c : a.publicKeyToken)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    const pe::ManagedImage m = pe::readManagedImage(platform::MemoryByteSource(copy.get(), size));
    if (m.state == pe::ManagedImage::State::NotManaged && (m.hasAssembly || !m.references.empty() || !m.moduleRefs.empty()))
        __builtin_trap();
    // Each row takes bytes of the file: never more rows than bytes.
    if (m.references.size() + m.moduleRefs.size() > size) __builtin_trap();
    checkName(m.runtimeVersion);
    if (m.hasAssembly) checkAssembly(m.assembly);
    for (const pe::AssemblyName& a : m.references) checkAssembly(a);
    for (const std::string& s : m.moduleRefs) checkName(s);
    return 0;
}
