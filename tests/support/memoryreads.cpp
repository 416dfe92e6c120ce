#include "tests/support/memoryreads.h"

#include <algorithm>

#include "inspect/fileversion.h"
#include "platform/peversion.h"
#include "platform/platform.h"
#include "platform/text.h"

using platform::asciiLower;

// Paths compare ignoring ASCII case: Windows lists found paths lower-cased.
const std::vector<std::uint8_t>* MemoryReads::bytes(const std::string& path) const {
    if (asciiLower(platform::directoryPart(path)) != asciiLower(folder_)) return nullptr;
    const std::string name = asciiLower(platform::fileNamePart(path));
    for (const auto& [file, content] : files_)
        if (asciiLower(file) == name) return &content;
    return nullptr;
}

std::shared_ptr<const ImageImports> MemoryReads::imports(const std::string& path) {
    const std::vector<std::uint8_t>* b = bytes(path);
    if (!b) return std::make_shared<ImageImports>();  // not openable
    if (b->empty()) {
        auto out = std::make_shared<ImageImports>();
        out->outcome = ImageImports::Outcome::NotMappable;
        return out;
    }
    return std::make_shared<const ImageImports>(readImageImports(platform::MemoryByteSource(b->data(), b->size()), options_));
}

std::uint16_t MemoryReads::machine(const std::string& path) { return imports(path)->machine; }

std::vector<std::uint8_t> MemoryReads::versionBlock(const std::string& path) const {
    std::vector<std::uint8_t> block;
    const std::vector<std::uint8_t>* b = bytes(path);
    std::uint64_t at = 0, length = 0;
    if (b && platform::findVersionResource(platform::MemoryByteSource(b->data(), b->size()), 0x0409, at, length)) {
        block.assign(b->begin() + static_cast<std::ptrdiff_t>(at),
                     b->begin() + static_cast<std::ptrdiff_t>(at + std::min<std::uint64_t>(length, 0xFFFF)));
        if (block.size() >= 6) platform::clampVersionBlock(block.data(), block.size());
    }
    return block;
}

const std::string& MemoryReads::version(const std::string& path) { return version_ = FileVersionFromBlock(versionBlock(path)); }

const std::string& MemoryReads::fixedVersion(const std::string& path) {
    return version_ = FixedFileVersion(versionBlock(path));
}

std::shared_ptr<const ExportTable> MemoryReads::exports(const std::string& path) {
    const std::vector<std::uint8_t>* b = bytes(path);
    if (!b) return std::make_shared<ExportTable>();
    return std::make_shared<const ExportTable>(readExportTable(platform::MemoryByteSource(b->data(), b->size())));
}

LocatedPtr MemoryReads::search(const std::string& name, const Program&, std::uint16_t machine) {
    platform::DllSearchResult r;
    const std::string wanted = asciiLower(name);
    for (const auto& [file, content] : files_) {
        if (asciiLower(file) != wanted) continue;
        const std::string path = platform::joinPath(folder_, file);
        const std::uint16_t m = machine ? this->machine(path) : 0;
        if (m == 0 || m == machine) {
            r.found = true;
            r.path = path;
            break;
        }
        if (r.otherPath.empty()) {
            r.otherPath = path;
            r.otherMachine = m;
        }
    }
    return std::make_shared<const Located>(locate(r));
}
