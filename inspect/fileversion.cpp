#include "inspect/fileversion.h"

#include "platform/versioninfo.h"

std::string FileVersionString(const std::string& fileName) { return FileVersionFromBlock(FileVersionBlock(fileName)); }

std::vector<std::uint8_t> FileVersionBlock(const std::string& fileName) { return platform::fileVersionBlock(fileName); }

std::string FixedFileVersion(const std::vector<std::uint8_t>& block) {
    platform::BinaryVersion v;
    return platform::fixedFileVersion(block, v) ? platform::versionText(v) : std::string();
}

std::string FileVersionFromBlock(const std::vector<std::uint8_t>& block) {
    std::string version;
    return platform::versionString(block, "FileVersion", version) ? version : kNoVersion;
}
