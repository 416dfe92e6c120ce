// The version-resource reader on arbitrary bytes: as a whole image, and as a
// version block on its own. Blocks are copied into exact-size buffers so that
// any read past them is caught.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "platform/peversion.h"

namespace {

void queryAll(const std::uint8_t* block) {
    const std::uint8_t* value = nullptr;
    std::uint32_t length = 0;
    bool text = false;
    std::string s;
    platform::queryVersionBlock(block, "\\", value, length, text);
    if (platform::queryVersionBlock(block, "\\VarFileInfo\\Translation", value, length, text) && length >= 4) {
        char key[40];
        const std::uint32_t t = value[0] | (value[1] << 8) | (value[2] << 16) | (static_cast<std::uint32_t>(value[3]) << 24);
        std::snprintf(key, sizeof key, "\\StringFileInfo\\%.8x\\FileVersion", ((t & 0xFFFF) << 16) + (t >> 16));
        platform::queryVersionString(block, key, s);
    }
    platform::queryVersionString(block, "\\StringFileInfo\\040904b0\\ProductVersion", s);
}

void asBlock(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return;
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]);
    std::memcpy(block.get(), data, size);
    platform::clampVersionBlock(block.get(), size);
    queryAll(block.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t offset = 0, length = 0;
    if (platform::findVersionResource(data, size, 0x040C, offset, length)) {
        if (offset >= size || length > size - offset) __builtin_trap();
        asBlock(data + offset, length);
    }
    asBlock(data, size);
    return 0;
}
