#include "platform/versioninfo.h"

#include <cstdio>

#include "platform/platform.h"

namespace platform {

namespace {
std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
}  // namespace

std::vector<std::uint8_t> fileVersionBlock(const std::string& path) {
    std::uint32_t handle = 0;
    const std::uint32_t size = fileVersionInfoSize(path, handle);
    std::vector<std::uint8_t> block(size);
    if (size == 0 || !fileVersionInfo(path, handle, size, block.data())) block.clear();
    return block;
}

bool versionString(const std::vector<std::uint8_t>& block, std::string_view key, std::string& out) {
    if (block.size() < 6) return false;
    const void* translation = nullptr;
    std::uint32_t length = 0;
    if (!verQueryValue(block.data(), "\\VarFileInfo\\Translation", translation, length) || length < 4 || !translation)
        return false;
    const std::uint32_t entry = le32(static_cast<const std::uint8_t*>(translation));
    // Language first, then code page: 0x04E4040C gives 040c04e4.
    char query[64];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%.8x\\",
                  static_cast<unsigned>(((entry & 0xFFFFu) << 16) + (entry >> 16)));
    return verQueryString(block.data(), std::string(query).append(key), out);
}

bool fixedFileVersion(const std::vector<std::uint8_t>& block, BinaryVersion& out) {
    if (block.size() < 6) return false;
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (!verQueryValue(block.data(), "\\", value, length) || length < 16 || !value) return false;
    const auto* v = static_cast<const std::uint8_t*>(value);
    if (le32(v) != kFixedInfoSignature) return false;
    const std::uint32_t ms = le32(v + 8), ls = le32(v + 12);
    out = {static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms & 0xFFFF),
           static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls & 0xFFFF)};
    return true;
}

std::string versionText(const BinaryVersion& v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

}  // namespace platform
