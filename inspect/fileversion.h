// The "FileVersion" string of a file's version resource.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The value of "FileVersion" under the first translation of the file's
// version resource, exactly as stored; "V: ???" when there is none to read.
std::string FileVersionString(const std::string& fileName);

// The same from a version block already read ("V: ???" for an empty one).
std::string FileVersionFromBlock(const std::vector<std::uint8_t>& block);
