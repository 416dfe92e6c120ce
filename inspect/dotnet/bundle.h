// Single-file .NET apps: an apphost whose image holds the bundle marker
// (eight bytes of header offset, then the 32-byte bundle signature), the
// files appended after the image, and the bundle header with its manifest
// at the offset the marker gives. Header versions 1 (.NET Core 3), 2
// (.NET 5: the deps and runtime config locations, flags) and 6 (.NET 6 and
// later: compressed sizes). Every read is bounded by the file; the manifest
// by what the bytes after the header could hold. Never throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace dotnet {

struct BundleEntry {
    enum class Type : std::uint8_t { Unknown, Assembly, NativeBinary, DepsJson, RuntimeConfigJson, Symbols };
    std::uint64_t offset = 0;          // in the bundle file
    std::uint64_t size = 0;            // the file's own size
    std::uint64_t compressedSize = 0;  // stored deflated in that many bytes; 0: stored as is
    Type type = Type::Unknown;
    std::string path;  // relative to the app, with '/' as written ("runtimes/win-x64/native/x.dll")

    bool compressed() const { return compressedSize != 0; }
    std::uint64_t storedSize() const { return compressed() ? compressedSize : size; }
};

const char* bundleEntryTypeName(BundleEntry::Type type);

struct Bundle {
    enum class Outcome {
        NotApphost,  // no bundle signature in the image: not a .NET apphost
        Apphost,     // the signature with a zero offset: an apphost with its app beside it
        Read,        // a bundle, read whole
        Damaged,     // the marker points at a header or manifest that breaks off: `reason`
    };
    Outcome outcome = Outcome::NotApphost;
    std::string reason;

    std::uint64_t markerOffset = 0;  // file offset of the eight bytes before the signature
    std::uint64_t headerOffset = 0;
    std::uint32_t majorVersion = 0, minorVersion = 0;
    std::string bundleId;
    // From version 2: where the deps file and the runtime config are (0: none).
    std::uint64_t depsJsonOffset = 0, depsJsonSize = 0;
    std::uint64_t runtimeConfigOffset = 0, runtimeConfigSize = 0;
    std::uint64_t flags = 0;  // 1: built in .NET Core 3 compatibility mode (every file extracted)
    std::vector<BundleEntry> entries;

    const BundleEntry* find(const std::string& path) const;  // ignoring case, '/' or '\\' alike
    const BundleEntry* firstOfType(BundleEntry::Type type) const;
};

// The bundle signature ("SHA-256 of .net core bundle"), as it stands in every apphost.
extern const std::uint8_t kBundleSignature[32];

Bundle readBundle(const platform::ByteSource& file);

// Whether compressed entries can be read here (the build found zlib).
bool canInflate();

// The bytes of `entry`: the file's own range for a stored entry; for a
// compressed one the inflated bytes, held in memory (at most
// kMaxInflatedEntry). Null, with `reason`, when they cannot be had. The
// source given must outlive what is returned.
constexpr std::uint64_t kMaxInflatedEntry = 512u << 20;
std::unique_ptr<platform::ByteSource> openBundleEntry(const platform::ByteSource& file, const BundleEntry& entry,
                                                      std::string& reason);

// A window on part of another source.
class ByteRange : public platform::ByteSource {
public:
    ByteRange(const platform::ByteSource& base, std::uint64_t offset, std::uint64_t size)
        : base_(base), offset_(offset), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* out, std::size_t count) const override {
        return has(offset, count) && base_.read(offset_ + offset, out, count);
    }

private:
    const platform::ByteSource& base_;
    std::uint64_t offset_, size_;
};

}  // namespace dotnet
