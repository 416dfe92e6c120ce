#include "platform/apiset.h"

#include <vector>

#include "platform/bytes.h"
#include "platform/peimage.h"
#include "platform/text.h"

namespace platform {

namespace {

// Longest name read from the schema, in UTF-16 units: a DLL name never
// holds more than MAX_PATH characters.
constexpr std::uint32_t kMaxNameUnits = 260;
// Largest ".apiset" section read from a file (Windows 11's is about 100 KB).
constexpr std::uint32_t kMaxSection = 16u << 20;

// A UTF-16 name at `offset`, `length` bytes, as lower-case UTF-8.
bool readName(const MemoryByteSource& b, std::uint32_t offset, std::uint32_t length, std::string& out) {
    if (length % 2 != 0 || length / 2 > kMaxNameUnits || !b.has(offset, length)) return false;
    std::u16string units(length / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint16_t u = 0;
        b.u16(offset + 2 * i, u);
        units[i] = static_cast<char16_t>(u);
    }
    out = asciiLower(utf16ToUtf8(units.data(), units.size()));
    return true;
}

}  // namespace

bool isApiSetName(std::string_view name) {
    return name.size() > 4 && (equalsIgnoringCase(name.substr(0, 4), "api-") || equalsIgnoringCase(name.substr(0, 4), "ext-"));
}

std::string ApiSetSchema::key(std::string_view name) const {
    std::string k = asciiLower(name);
    if (k.size() > 4 && k.compare(k.size() - 4, 4, ".dll") == 0) k.resize(k.size() - 4);
    // Before version 6 the schema names lack the "api-"/"ext-" prefix.
    if (version_ < 6 && isApiSetName(k)) k.erase(0, 4);
    const std::size_t hyphen = k.rfind('-');
    if (hyphen != std::string::npos) k.resize(hyphen);
    return k;
}

bool ApiSetSchema::read(const std::uint8_t* data, std::size_t size) {
    entries_.clear();
    version_ = 0;
    if (!data || size < 8 || !readEntries(data, size)) {
        entries_.clear();
        version_ = 0;
        return false;
    }
    return true;
}

bool ApiSetSchema::readEntries(const std::uint8_t* data, std::size_t size) {
    const MemoryByteSource b(data, size);
    std::uint32_t version = 0, count = 0, entriesAt = 0, entrySize = 0;
    b.u32(0, version);
    switch (version) {
        case 2:  // Version, Count, entries of 12 bytes
            b.u32(4, count);
            entriesAt = 8;
            entrySize = 12;
            break;
        case 4:  // Version, Size, Flags, Count, entries of 24 bytes
            if (!b.u32(12, count)) return false;
            entriesAt = 16;
            entrySize = 24;
            break;
        case 6:  // Version, Size, Flags, Count, EntryOffset, HashOffset, HashFactor
            if (!b.u32(12, count) || !b.u32(16, entriesAt)) return false;
            entrySize = 24;
            break;
        default: return false;
    }
    if (!b.has(entriesAt, static_cast<std::uint64_t>(count) * entrySize)) return false;
    version_ = version;
    // Each value entry takes at least 16 bytes of the section: more values in
    // all than that can hold means arrays shared to inflate the table.
    std::uint64_t valuesLeft = size / 16;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t e = entriesAt + static_cast<std::uint64_t>(i) * entrySize;
        std::uint32_t nameOffset = 0, nameLength = 0, valuesAt = 0, valueCount = 0, valueSize = 0;
        std::uint64_t firstValue = 0;
        if (version == 2) {
            b.u32(e, nameOffset);
            b.u32(e + 4, nameLength);
            b.u32(e + 8, valuesAt);
            if (!b.u32(valuesAt, valueCount)) return false;
            firstValue = static_cast<std::uint64_t>(valuesAt) + 4;
            valueSize = 16;
        } else if (version == 4) {
            b.u32(e + 4, nameOffset);
            b.u32(e + 8, nameLength);
            b.u32(e + 20, valuesAt);
            if (!b.u32(static_cast<std::uint64_t>(valuesAt) + 4, valueCount)) return false;
            firstValue = static_cast<std::uint64_t>(valuesAt) + 8;
            valueSize = 20;
        } else {
            b.u32(e + 4, nameOffset);
            b.u32(e + 8, nameLength);
            b.u32(e + 16, valuesAt);
            b.u32(e + 20, valueCount);
            firstValue = valuesAt;
            valueSize = 20;
        }
        if (valueCount > valuesLeft || !b.has(firstValue, static_cast<std::uint64_t>(valueCount) * valueSize))
            return false;
        valuesLeft -= valueCount;
        std::string name;
        if (!readName(b, nameOffset, nameLength, name) || name.empty()) return false;
        Entry entry;
        bool haveDefault = false;
        for (std::uint32_t j = 0; j < valueCount; ++j) {
            // v2: NameOffset, NameLength, ValueOffset, ValueLength; v4 and v6
            // put Flags first.
            const std::uint64_t v = firstValue + static_cast<std::uint64_t>(j) * valueSize + (version == 2 ? 0 : 4);
            std::uint32_t importerOffset = 0, importerLength = 0, hostOffset = 0, hostLength = 0;
            b.u32(v, importerOffset);
            b.u32(v + 4, importerLength);
            b.u32(v + 8, hostOffset);
            b.u32(v + 12, hostLength);
            std::string importer, host;
            if (!readName(b, importerOffset, importerLength, importer) || !readName(b, hostOffset, hostLength, host))
                return false;
            if (importer.empty() && !haveDefault) {
                entry.defaultHost = std::move(host);
                haveDefault = true;
            } else if (!importer.empty()) {
                entry.exceptions.emplace_back(std::move(importer), std::move(host));
            }
        }
        // Without a default, the first value serves everyone else.
        if (!haveDefault && !entry.exceptions.empty()) entry.defaultHost = entry.exceptions.front().second;
        entries_.emplace(key(name), std::move(entry));
    }
    return true;
}

bool ApiSetSchema::readImage(const ByteSource& img) {
    entries_.clear();
    version_ = 0;
    const PeImage image(img);
    if (image.headers() < PeImage::Headers::FileHeader) return false;
    // Header by header: a table cut short still yields the sections before the cut.
    for (std::uint32_t i = 0; i < image.sectionCount(); ++i) {
        PeSection s;
        if (!image.section(i, s)) return false;
        if (std::string_view(s.name, 8) != std::string_view(".apiset\0", 8)) continue;
        std::uint32_t size = s.virtualSize && s.virtualSize < s.rawSize ? s.virtualSize : s.rawSize;
        if (size == 0 || size > kMaxSection || !img.has(s.rawPointer, size)) return false;
        std::vector<std::uint8_t> bytes(size);
        if (!img.read(s.rawPointer, bytes.data(), bytes.size())) return false;
        return read(bytes.data(), bytes.size());
    }
    return false;
}

ApiSetSchema::Lookup ApiSetSchema::resolve(std::string_view name, std::string_view importer, std::string& host) const {
    if (entries_.empty() || name.size() > 4 * kMaxNameUnits) return Lookup::NotApiSet;
    const std::string lower = asciiLower(name);
    if (!isApiSetName(lower)) return Lookup::NotApiSet;
    const auto it = entries_.find(key(lower));
    if (it == entries_.end()) return Lookup::NotApiSet;
    const Entry& e = it->second;
    const std::string* chosen = &e.defaultHost;
    if (!e.exceptions.empty()) {
        const std::string who = asciiLower(importer);
        for (const auto& [from, to] : e.exceptions) {
            if (from == who) {
                chosen = &to;
                break;
            }
        }
    }
    if (chosen->empty()) return Lookup::NoHost;
    host = *chosen;
    return Lookup::Host;
}

}  // namespace platform
