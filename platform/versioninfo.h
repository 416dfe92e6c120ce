// The one decoder of version resources, for the engine and the
// components alike: a block as the platform's version functions give it
// (GetFileVersionInfo, or our own reader where there is none), read through
// VerQueryValue.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The file's version block (GetFileVersionInfoSize, GetFileVersionInfo);
// empty when it has none or cannot be read.
std::vector<std::uint8_t> fileVersionBlock(const std::string& path);

// The string `key` ("FileVersion", "ProductName", ...) under the block's
// first translation ("\StringFileInfo\<language><code page>\<key>"); false
// when the block has no translation table or no such string. Only the
// first translation is consulted, as the version column always did.
bool versionString(const std::vector<std::uint8_t>& block, std::string_view key, std::string& out);

// VS_FIXEDFILEINFO's binary file version (dwFileVersionMS/LS); false when
// the block holds none with the structure's signature.
using BinaryVersion = std::array<std::uint16_t, 4>;
bool fixedFileVersion(const std::vector<std::uint8_t>& block, BinaryVersion& out);

// "a.b.c.d".
std::string versionText(const BinaryVersion& version);

}  // namespace platform
