// The API set schema reader on arbitrary bytes: as a ".apiset" section and as
// a whole image holding one, then a few look-ups. The bytes are copied into
// an exact-size buffer so that any read past them is caught.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "platform/apiset.h"
#include "platform/peversion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    platform::ApiSetSchema schema;
    std::string host;
    for (int pass = 0; pass < 2; ++pass) {
        const bool ok = pass == 0 ? schema.read(copy.get(), size)
                                  : schema.readImage(platform::MemoryByteSource(copy.get(), size));
        if (!ok && !schema.empty()) __builtin_trap();
        for (const char* name : {"api-ms-win-crt-heap-l1-1-0.dll", "EXT-MS-WIN-X-L1-1-0", "api-", "api-ms"})
            if (schema.resolve(name, "kernel32.dll", host) == platform::ApiSetSchema::Lookup::Host && host.empty())
                __builtin_trap();
    }
    return 0;
}
