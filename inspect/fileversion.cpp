#include "inspect/fileversion.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/platform.h"

namespace {
const char* const kNoVersion = "V: ???";
}

std::string FileVersionString(const std::string& fileName) {
    std::uint32_t handle = 0;
    const std::uint32_t size = platform::fileVersionInfoSize(fileName, handle);
    if (size == 0) return kNoVersion;
    std::vector<std::uint8_t> block(size);
    if (!platform::fileVersionInfo(fileName, handle, size, block.data())) return kNoVersion;
    return FileVersionFromBlock(block);
}

std::vector<std::uint8_t> FileVersionBlock(const std::string& fileName) {
    std::uint32_t handle = 0;
    const std::uint32_t size = platform::fileVersionInfoSize(fileName, handle);
    std::vector<std::uint8_t> block(size);
    if (size == 0 || !platform::fileVersionInfo(fileName, handle, size, block.data())) block.clear();
    return block;
}

std::string FixedFileVersion(const std::vector<std::uint8_t>& block) {
    if (block.size() < 6) return {};
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (!platform::verQueryValue(block.data(), "\\", value, length) || length < 16) return {};
    const auto* v = static_cast<const std::uint8_t*>(value);
    const auto u32 = [&](int at) {
        return static_cast<std::uint32_t>(v[at]) | (static_cast<std::uint32_t>(v[at + 1]) << 8) |
               (static_cast<std::uint32_t>(v[at + 2]) << 16) | (static_cast<std::uint32_t>(v[at + 3]) << 24);
    };
    if (u32(0) != 0xFEEF04BDu) return {};  // VS_FIXEDFILEINFO's signature
    const std::uint32_t ms = u32(8), ls = u32(12);
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
           std::to_string(ls & 0xFFFF);
}

std::string FileVersionFromBlock(const std::vector<std::uint8_t>& block) {
    if (block.size() < 6) return kNoVersion;
    const void* translation = nullptr;
    std::uint32_t length = 0;
    if (!platform::verQueryValue(block.data(), "\\VarFileInfo\\Translation", translation, length) || length < 4)
        return kNoVersion;
    const auto* t = static_cast<const std::uint8_t*>(translation);
    const std::uint32_t entry = static_cast<std::uint32_t>(t[0]) | (static_cast<std::uint32_t>(t[1]) << 8) |
                                (static_cast<std::uint32_t>(t[2]) << 16) | (static_cast<std::uint32_t>(t[3]) << 24);
    // Language first, then code page: 0x04E4040C gives 040c04e4.
    const std::uint32_t key = ((entry & 0xFFFFu) << 16) + (entry >> 16);
    char query[40];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%.8x\\FileVersion", static_cast<unsigned>(key));

    std::string version;
    if (!platform::verQueryString(block.data(), query, version)) return kNoVersion;
    return version;
}
