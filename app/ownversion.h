// The program's own version, as its version resource carries it on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "1.3.0.81" and "1.0.0.0", set by the build.
const char* OwnFileVersion();
const char* OwnProductVersion();

// The VS_VERSIONINFO block of the program: one string table "040C04E4"
// (French, code page 1252) and its translation entry.
std::vector<std::uint8_t> OwnVersionBlock();

// Makes the version functions of the platform layer find that block for the
// running program. Does nothing where the executable carries a real resource.
void RegisterOwnVersion();
