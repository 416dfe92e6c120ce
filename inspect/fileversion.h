// The "FileVersion" string of a file's version resource.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the version column shows for a file without a readable version.
inline constexpr const char* kNoVersion = "V: ???";

// The value of "FileVersion" under the first translation of the file's
// version resource, exactly as stored; "V: ???" when there is none to read.
std::string FileVersionString(const std::string& fileName);

// The same from a version block already read ("V: ???" for an empty one).
std::string FileVersionFromBlock(const std::vector<std::uint8_t>& block);

// The file's version resource as the version functions give it; empty when
// it has none.
std::vector<std::uint8_t> FileVersionBlock(const std::string& fileName);

// The binary file version of a version block (VS_FIXEDFILEINFO's
// dwFileVersionMS/LS) as "a.b.c.d"; empty when the block holds none.
std::string FixedFileVersion(const std::vector<std::uint8_t>& block);
