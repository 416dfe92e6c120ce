#include "tests/support/memoryreads.h"

#include <algorithm>

#include "inspect/fileversion.h"
#include "platform/peimage.h"
#include "platform/peversion.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/versioninfo.h"

using platform::asciiLower;

// Paths compare ignoring ASCII case: Windows lists found paths lower-cased.
const std::vector<std::uint8_t>* MemoryReads::bytes(const std::string& path) const {
    if (asciiLower(platform::directoryPart(path)) != asciiLower(folder_)) return nullptr;
    const std::string name = asciiLower(platform::fileNamePart(path));
    for (const auto& [file, content] : files_)
        if (asciiLower(file) == name) return &content;
    return nullptr;
}

std::shared_ptr<const pe::ImageRead> MemoryReads::read(const std::string& path, const pe::ReadConfig& config) {
    const std::vector<std::uint8_t>* b = bytes(path);
    if (!b) return std::make_shared<pe::ImageRead>();  // not openable
    if (b->empty()) {
        auto out = std::make_shared<pe::ImageRead>();
        out->outcome = pe::ImageRead::Outcome::NotMappable;
        return out;
    }
    return std::make_shared<const pe::ImageRead>(pe::readImage(platform::MemoryByteSource(b->data(), b->size()), config));
}

std::shared_ptr<const pe::ImageRead> MemoryReads::image(const std::string& path) { return read(path, config_); }

std::shared_ptr<const pe::ImageRead> MemoryReads::imageWithFunctions(const std::string& path) {
    pe::ReadConfig config = config_;
    config.functions = true;
    return read(path, config);
}

std::vector<std::uint8_t> MemoryReads::versionBlock(const std::string& path) const {
    std::vector<std::uint8_t> block;
    const std::vector<std::uint8_t>* b = bytes(path);
    if (b) platform::readVersionBlock(platform::PeImage(platform::MemoryByteSource(b->data(), b->size())), 0x0409, block);
    return block;
}

const std::string& MemoryReads::version(const std::string& path) { return version_ = FileVersionFromBlock(versionBlock(path)); }

bool MemoryReads::hasVersion(const std::string& path) {
    std::string text;
    return platform::versionString(versionBlock(path), "FileVersion", text);
}

const std::string& MemoryReads::fixedVersion(const std::string& path) {
    return version_ = FixedFileVersion(versionBlock(path));
}

std::shared_ptr<const pe::ExportTable> MemoryReads::exports(const std::string& path) {
    const std::vector<std::uint8_t>* b = bytes(path);
    if (!b) return std::make_shared<pe::ExportTable>();
    const platform::MemoryByteSource source(b->data(), b->size());
    return std::make_shared<const pe::ExportTable>(pe::readExports(platform::PeImage(source)));
}

bool MemoryReads::findFile(const std::string& dir, const std::string& name, std::string& path) {
    if (asciiLower(dir) != asciiLower(folder_)) return false;
    const std::string wanted = asciiLower(name);
    for (const auto& [file, content] : files_) {
        if (asciiLower(file) != wanted) continue;
        path = platform::joinPath(folder_, file);
        return true;
    }
    return false;
}
