// The "FileVersion" string of a file's version resource.
#pragma once

#include <string>

// The value of "FileVersion" under the first translation of the file's
// version resource, exactly as stored; "V: ???" when there is none to read.
std::string FileVersionString(const std::string& fileName);
